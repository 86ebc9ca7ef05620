// The media-transfer handler: every refusal in its order, with its status
// and message, the reply of a successful move, and two transfers racing
// into one slot (the slot checks and the move are one operation of the
// library).
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "d2t/controller/tape_controller.h"
#include "json_spirit/json_helpers.h"
#include "websvcs/controller/tapectl/media_transfer_handler.h"
#include "websvcs/controller/tapectl/tests/tapectl_fixture.h"

using json_spirit::Object;

namespace tapectl_test {
namespace {

class Transfer_Handler_Test : public Tapectl_Test {
 protected:
  Reply transfer(const std::string& body) { return run(h_, METHOD_POST, TRANSFER, body); }
  std::string slot_tag(int slot) {
    const Object row = slot_row("LIB-1", slot);
    const std::string* tag = json_spirit::object_get_str(row, "media_tag");
    return tag ? *tag : "<null>";
  }
  void set_tag(int slot, const std::string& tag) {
    Object lib;
    Tape_Controller_Impl* impl = Tape_Controller::instance()->impl();
    ASSERT_TRUE(impl->get_changer("LIB-1", lib));
    ASSERT_TRUE(impl->set_media_tag(lib.at("id").get_int64(), slot, tag));
  }
  // The library and inventory are as the sample left them.
  void expect_untouched() {
    EXPECT_EQ("slot:3", where_is("T0003L9"));
    EXPECT_EQ("T0003L9", slot_tag(3));
    EXPECT_EQ("<null>", slot_tag(5));
  }

  JSON_RESTful_Media_Transfer_Handler h_;
};

// An empty tag in the inventory is an empty slot, as a target and (in the
// slot checks) as a source.
TEST_F(Transfer_Handler_Test, MovesAndRepliesWithTheTargetSlot) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  ASSERT_NO_FATAL_FAILURE(set_tag(5, ""));
  const Reply r = transfer(
      R"({"serial_number": "LIB-1", "media_tag": "T0003L9", "from": 3, "to": 5, "note": "x"})");
  ASSERT_EQ(200, r.status) << r.body;
  EXPECT_EQ(R"({"is_porter":false,"media_tag":"T0003L9","slot_number":5})", r.body);
  EXPECT_EQ("slot:5", where_is("T0003L9"));
}

// Two cartridges sent to one empty slot at once: one moves, the other is
// refused by the slot check, never by a failed robot move.
TEST_F(Transfer_Handler_Test, RacingTransfersIntoOneSlot) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  for (int round = 0; round < 10; ++round) {
    Reply a, b;
    std::thread ta([&] { a = transfer(move_body("T0001L9", 1, 5)); });
    std::thread tb([&] { b = transfer(move_body("T0002L9", 2, 5)); });
    ta.join();
    tb.join();
    ASSERT_EQ((std::multiset<int>{200, 400}), (std::multiset<int>{a.status, b.status}))
        << a.body << " / " << b.body;
    EXPECT_EQ("Target slot is full", (a.status == 400 ? a : b).message());
    // Put the winner back.
    const bool first_won = a.status == 200;
    ASSERT_EQ(200,
              transfer(move_body(first_won ? "T0001L9" : "T0002L9", 5, first_won ? 1 : 2)).status);
  }
  EXPECT_EQ("slot:1", where_is("T0001L9"));
  EXPECT_EQ("slot:2", where_is("T0002L9"));
}

TEST_F(Transfer_Handler_Test, FieldChecksInOrder) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  Log_Capture log;
  const std::string body_msg = "Request body is expected as JSON object.";
  const std::string serial_msg = "'serial_number' is expected as string in request body.";
  const std::string tag_msg = "'media_tag' is expected as string in request body.";
  const std::string from_msg = "'from' is expected as int in request body.";
  const std::string to_msg = "'to' is expected as int in request body.";
  // The body of a move of T0003L9 in LIB-1 with these slot fields.
  auto slots = [](const std::string& fields) {
    return R"({"serial_number": "LIB-1", "media_tag": "T0003L9", )" + fields + "}";
  };
  const struct {
    std::string body;
    const std::string& message;
  } cases[] = {
      {"", body_msg},
      {"[1, 2]", body_msg},
      {"{}", serial_msg},
      {R"({"serial": "LIB-1", "media_tag": "T0003L9", "from": 3, "to": 5})", serial_msg},
      {R"({"serial_number": 1, "media_tag": "T0003L9", "from": 3, "to": 5})", serial_msg},
      {R"({"serial_number": "LIB-1", "media_tag": ["T0003L9"], "from": 3, "to": 5})", tag_msg},
      {slots(R"("from": "3", "to": 5)"), from_msg},
      {slots(R"("from": 3.0, "to": 5)"), from_msg},
      {slots(R"("to": 5)"), from_msg},
      {slots(R"("from": 3, "to": null)"), to_msg},
      {slots(R"("from": 3, "dest": 5)"), to_msg},
      // Numbers beyond a slot number's range are refused, not cut down to
      // another slot: 4294967299 would otherwise become slot 3.
      {slots(R"("from": 4294967299, "to": 5)"), from_msg},
      {slots(R"("from": 3, "to": 4294967301)"), to_msg},
      {slots(R"("from": 18446744073709551615, "to": 5)"), from_msg},
      {slots(R"("from": 3, "to": -9223372036854775808)"), to_msg},
      {slots(R"("from": 1e300, "to": 5)"), from_msg},
  };
  for (const auto& c : cases) {
    const Reply r = transfer(c.body);
    EXPECT_EQ(400, r.status) << c.body;
    EXPECT_EQ(c.message, r.message()) << c.body;
  }
  expect_untouched();
  EXPECT_FALSE(log.contains("request dump"));  // field checks log nothing
}

TEST_F(Transfer_Handler_Test, SlotChecksInOrderAreLogged) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  ASSERT_NO_FATAL_FAILURE(set_tag(9, ""));
  const struct {
    std::string body;
    const char* message;
    const char* log_line;
  } cases[] = {
      {move_body("T0003L9", 30, 40), "Source slot doesn't exist",
       "Failed to get source slot, request dump: '{"},
      {move_body("T0003L9", 3, 5, "OTHER"), "Source slot doesn't exist",
       "Failed to get source slot"},
      {move_body("T0003L9", 3, 0), "Target slot doesn't exist",
       "Failed to get target slot, request dump: '{"},
      {move_body("T0003L9", 3, 3), "Target slot is full", "Target slot is full '{"},
      {move_body("T0003L9", 8, 5), "Media mismatches with slot", "Source slot mismatch '{"},
      {move_body("T0001L9", 3, 5), "Media mismatches with slot", "Source slot mismatch"},
      {move_body("", 9, 5), "Media mismatches with slot", "Source slot mismatch"},
  };
  for (const auto& c : cases) {
    Log_Capture log;
    const Reply r = transfer(c.body);
    EXPECT_EQ(400, r.status) << c.body;
    EXPECT_EQ(c.message, r.message()) << c.body;
    EXPECT_TRUE(log.contains(c.log_line)) << c.body;
  }
  expect_untouched();
}

TEST_F(Transfer_Handler_Test, FailedMoveIs500AndChangesNothing) {
  const std::string body = move_body("T0003L9", 3, 5);
  // Without an inventory the source does not exist.
  Reply r = transfer(body);
  EXPECT_EQ(400, r.status);
  EXPECT_EQ("Source slot doesn't exist", r.message());

  ASSERT_NO_FATAL_FAILURE(open_sample());
  ASSERT_NO_FATAL_FAILURE(
      use_library(sample_library(R"([{"op": "transfer", "times": 1000, "hardware": true}])")));
  r = transfer(body);
  EXPECT_EQ(500, r.status);
  EXPECT_EQ("Failed to transfer media", r.message());
  expect_untouched();
}

}  // namespace
}  // namespace tapectl_test
