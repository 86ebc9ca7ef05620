// Requests for one library from many threads at once: the library guard
// keeps moves, refreshes and their inventory records from interleaving.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "json_spirit/json_helpers.h"
#include "websvcs/controller/tapectl/changer_refresh_handler.h"
#include "websvcs/controller/tapectl/library_guard.h"
#include "websvcs/controller/tapectl/media_transfer_handler.h"
#include "websvcs/controller/tapectl/tests/tapectl_fixture.h"

using tapectl_test::Reply;
using tapectl_test::move_body;
using tapectl_test::run;

namespace {

const char TRANSFER[] = "/d2/r/tapectl/media/transfer";
const char REFRESH[] = "/d2/r/tapectl/changer/refresh?serial_number=LIB-1";

// Drive moves share their library; a refresh, rescan or transfer holds it
// alone, waiting for the others and keeping them out while it runs.
TEST(Library_Guard, ExclusiveHoldersExcludeAllSharedOnesOverlap) {
  {
    Library_Guard a("LIB-A");
    Library_Guard b("LIB-B");  // another library: no wait
    Library_Guard c("LIB-C", Library_Guard::SHARED);
    Library_Guard d("LIB-C", Library_Guard::SHARED);  // does not wait for c
    EXPECT_EQ(3u, Library_Guard::entries());
  }
  EXPECT_EQ(0u, Library_Guard::entries());
  std::atomic<int> exclusive_inside{0}, shared_inside{0};
  std::atomic<bool> overlap{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 400; ++i) {
        if (t % 2 == 0) {
          Library_Guard g("LIB-1");
          if (++exclusive_inside != 1 || shared_inside.load() != 0) overlap = true;
          std::this_thread::yield();
          if (shared_inside.load() != 0) overlap = true;
          --exclusive_inside;
        } else {
          Library_Guard g("LIB-1", Library_Guard::SHARED);
          ++shared_inside;
          if (exclusive_inside.load() != 0) overlap = true;
          std::this_thread::yield();
          --shared_inside;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(overlap.load());
  EXPECT_EQ(0u, Library_Guard::entries());
}

typedef tapectl_test::Tapectl_Test Concurrent_Request_Test;

// Two cartridges sent to one empty slot at once: one moves, the other is
// refused by the slot check, never by a failed robot move.
TEST_F(Concurrent_Request_Test, RacingTransfersIntoOneSlot) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  JSON_RESTful_Media_Transfer_Handler h;
  for (int round = 0; round < 10; ++round) {
    Reply a, b;
    std::thread ta([&] { a = run(h, METHOD_POST, TRANSFER, move_body("T0001L9", 1, 5)); });
    std::thread tb([&] { b = run(h, METHOD_POST, TRANSFER, move_body("T0002L9", 2, 5)); });
    ta.join();
    tb.join();
    ASSERT_EQ((std::multiset<int>{200, 400}), (std::multiset<int>{a.status, b.status}))
        << a.body << " / " << b.body;
    const Reply& refused = a.status == 400 ? a : b;
    EXPECT_EQ("Target slot is full", refused.message());
    // Put the winner back.
    const bool first_won = a.status == 200;
    ASSERT_EQ(200, run(h, METHOD_POST, TRANSFER,
                       move_body(first_won ? "T0001L9" : "T0002L9", 5, first_won ? 1 : 2))
                       .status);
  }
  EXPECT_EQ("slot:1", where_is("T0001L9"));
  EXPECT_EQ("slot:2", where_is("T0002L9"));
}

// Moves and refreshes of one library interleaved from many threads: every
// move succeeds (no stale inventory ever refuses one) and the inventory
// ends where the robot is.
TEST_F(Concurrent_Request_Test, MovesAndRefreshesKeepTheInventoryTrue) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  JSON_RESTful_Media_Transfer_Handler transfer;
  JSON_RESTful_Changer_Refresh_Handler refresh;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  // Cartridge i (slot i, 1..3) moves between slot i and a free slot of its own.
  const int away[] = {0, 5, 8, 9};
  for (int i = 1; i <= 3; ++i) {
    threads.emplace_back([&, i] {
      const std::string tag = "T000" + std::to_string(i) + "L9";
      int at = i;
      for (int n = 0; n < 20; ++n) {
        const int to = at == i ? away[i] : i;
        const Reply r = run(transfer, METHOD_POST, TRANSFER, move_body(tag, at, to));
        if (r.status != 200) {
          ADD_FAILURE() << tag << " " << at << "->" << to << ": " << (++failures, r.body);
          return;
        }
        at = to;
      }
    });
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int n = 0; n < 30; ++n) {
        if (run(refresh, METHOD_GET, REFRESH).status != 200) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, failures.load());
  for (int i = 1; i <= 3; ++i) {
    const std::string tag = "T000" + std::to_string(i) + "L9";
    EXPECT_EQ("slot:" + std::to_string(i), where_is(tag));  // 20 moves: back home
    const std::string* recorded = json_spirit::object_get_str(slot_row("LIB-1", i), "media_tag");
    ASSERT_NE(nullptr, recorded) << tag;
    EXPECT_EQ(tag, *recorded);
    EXPECT_EQ(nullptr, json_spirit::object_get_str(slot_row("LIB-1", away[i]), "media_tag"));
  }
  EXPECT_EQ(0u, Library_Guard::entries());
}

}  // namespace
