// The drive load and unload handlers: path and method checks, the body
// check, success without a body of their own, the controller's failure
// object passed on with 500, and operations turned away unstarted (503).
// Failure counting and refusals are the controller's (its load tests).
#include <gtest/gtest.h>

#include "d2t/controller/tape_controller.h"
#include "d2t/metrics/metrics.h"
#include "json_spirit/json_helpers.h"
#include "websvcs/controller/tapectl/drive_load_handler.h"
#include "websvcs/controller/tapectl/drive_unload_handler.h"
#include "websvcs/controller/tapectl/tests/tapectl_fixture.h"
#include "websvcs/framework/memory_channel.h"

namespace tapectl_test {
namespace {

class Drive_Handler_Test : public Tapectl_Test {
 protected:
  Reply load(const std::string& body) { return run(load_, METHOD_POST, LOAD, body); }
  Reply unload(const std::string& body) { return run(unload_, METHOD_POST, UNLOAD, body); }

  Drive_Load_Handler load_;
  Drive_Unload_Handler unload_;
};

TEST_F(Drive_Handler_Test, LoadThenUnloadMovesTheCartridgeAndSendsNothing) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  Reply r = load(R"({"serial_number": "LIB-1-D0", "media_tag": "T0002L9", "extra": [1]})");
  EXPECT_EQ(200, r.status) << r.body;
  EXPECT_EQ(0, r.result);
  EXPECT_EQ("", r.body);
  EXPECT_EQ("drive:0", where_is("T0002L9"));

  r = unload(R"({"serial_number": "LIB-1-D0"})");
  EXPECT_EQ(200, r.status) << r.body;
  EXPECT_EQ("", r.body);
  EXPECT_EQ("slot:2", where_is("T0002L9"));
}

TEST_F(Drive_Handler_Test, PathMethodAndBodyChecksComeBeforeTheController) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  struct Case {
    JSON_RESTful_Handler* handler;
    const char* path;
  } cases[] = {{&load_, LOAD}, {&unload_, UNLOAD}};
  const std::string good = R"({"serial_number": "LIB-1-D1", "media_tag": "T0001L9"})";
  for (const Case& c : cases) {
    const std::string path = c.path;
    // Another path: 404, also for a path the handler's path starts with.
    for (const std::string& other : {std::string("/d2/r/tapectl/drive"),
                                     path.substr(0, path.size() - 1), std::string("/x") + path}) {
      const Reply r = run(*c.handler, METHOD_POST, other, good);
      EXPECT_EQ(404, r.status) << other;
      EXPECT_EQ("", r.body) << other;
    }
    // Not POST: 405, with or without a body.
    for (int m : {METHOD_GET, METHOD_PUT, METHOD_DELETE, METHOD_HEAD}) {
      const Reply r = run(*c.handler, m, path, m == METHOD_PUT ? good : "");
      EXPECT_EQ(405, r.status) << path << " " << m;
      EXPECT_EQ("", r.body);
    }
    // A body that is not an object: 400 without a body.
    for (const char* body : {"", "[]", R"(["LIB-1-D1"])", "\"LIB-1-D1\"", "42", "null"}) {
      const Reply r = run(*c.handler, METHOD_POST, path, body);
      EXPECT_EQ(400, r.status) << path << " body " << body;
      EXPECT_EQ("", r.body) << body;
    }
    // A path below the handler's path is served like the path itself.
    EXPECT_EQ(405, run(*c.handler, METHOD_GET, path + "/below").status);
  }
  EXPECT_EQ("slot:1", where_is("T0001L9"));  // nothing reached the robot
  EXPECT_EQ(0, stored_slot("LIB-1-D1"));

  json_spirit::Value body = json_spirit::Object();
  EXPECT_EQ(0, load_.handle_request(nullptr, body));
  EXPECT_EQ(0, unload_.handle_request(nullptr, body));
}

TEST_F(Drive_Handler_Test, FailuresAnswerWithTheirStatusAndObject) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  ASSERT_NO_FATAL_FAILURE(use_library(
      sample_library(R"([{"op": "mount", "drive": "LIB-1-D0", "times": 100, "hardware": true}])")));
  const char* prepare = R"({"message":"Failed to prepare devices"})";
  const struct {
    bool is_load;
    const char* body;
    const char* reply;
  } rows[] = {
      {true, R"({"serial_number": "NO-SUCH", "media_tag": "T0001L9"})", prepare},
      // A cartridge that the inventory does not know: not "faulty".
      {true, R"({"serial_number": "LIB-1-D0", "media_tag": "ZZZ999"})",
       R"({"message":"Failed to find media to load"})"},
      // A hardware failure: the controller's "faulty" is passed on.
      {true, R"({"serial_number": "LIB-1-D0", "media_tag": "T0001L9"})",
       R"({"faulty":true,"message":"Failed to load media"})"},
      // A failed unload whose response stays empty: 500 with {}.
      {false, "{}", "{}"},
      {false, R"({"serial_number": "NO-SUCH"})", prepare},
  };
  for (const auto& row : rows) {
    const Reply r = row.is_load ? load(row.body) : unload(row.body);
    EXPECT_EQ(500, r.status) << row.body;
    EXPECT_EQ(row.reply, r.body) << row.body;
  }
}

// A request whose client hung up before its operation started: dropped,
// 503, logged once with what it would have moved, counted under its
// route; nothing moves. A stopping service answers 503 "Service is
// stopping". Serial numbers from the request log as one escaped line.
TEST_F(Drive_Handler_Test, UnwantedOrStoppedRequestsMoveNothing) {
  ASSERT_NO_FATAL_FAILURE(open_sample());
  ASSERT_EQ(200, load(R"({"serial_number": "LIB-1-D1", "media_tag": "T0003L9"})").status);
  const double counted = d2t::metrics::abandoned(LOAD) + d2t::metrics::abandoned(UNLOAD);
  Log_Capture logs;
  for (JSON_RESTful_Handler* handler :
       std::initializer_list<JSON_RESTful_Handler*>{&load_, &unload_}) {
    Memory_Channel ch(METHOD_POST, handler == &load_ ? LOAD : UNLOAD);
    ch.set_body(handler == &load_ ? R"({"serial_number": "LIB-1-D0", "media_tag": "T0001L9"})"
                                  : R"({"serial_number": "LIB-1-D1"})");
    ch.request().set_client_probe([] { return false; });
    ch.run(*handler);
    EXPECT_EQ(503, ch.reply_status());
  }
  EXPECT_EQ(counted + 2, d2t::metrics::abandoned(LOAD) + d2t::metrics::abandoned(UNLOAD));
  EXPECT_TRUE(
      logs.contains("client went away before /d2/r/tapectl/drive/load (load, library "
                    "LIB-1, drive LIB-1-D0, cartridge T0001L9)"));
  EXPECT_TRUE(
      logs.contains("client went away before /d2/r/tapectl/drive/unload (unload, "
                    "library LIB-1, drive LIB-1-D1, cartridge T0003L9)"));
  EXPECT_EQ("slot:1", where_is("T0001L9"));
  EXPECT_EQ("drive:1", where_is("T0003L9"));

  Tape_Controller::instance()->stop_queues();
  const Reply stopped = load(R"({"serial_number": "LIB-1-D0", "media_tag": "T0001L9"})");
  Tape_Controller::instance()->scheduler().resume();
  EXPECT_EQ(503, stopped.status);
  EXPECT_EQ("Service is stopping", stopped.message());
  EXPECT_EQ("slot:1", where_is("T0001L9"));

  load("{\"serial_number\": \"LIB\\nFORGED\\u001b[1m\", \"media_tag\": \"T0001L9\"}");
  EXPECT_TRUE(logs.contains("serial_number 'LIB%0AFORGED%1B[1m'"));
}

}  // namespace
}  // namespace tapectl_test
