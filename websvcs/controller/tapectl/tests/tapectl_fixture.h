// Test fixture for the tape-control handlers: the emulated library and
// SQLite inventory of test_support::Library_Test, the process's
// Tape_Controller opened on both (with fake clocks, so nothing really
// waits), and running a handler through an in-memory channel.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_TESTS_TAPECTL_FIXTURE_H
#define WEBSVCS_CONTROLLER_TAPECTL_TESTS_TAPECTL_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "json_spirit/json_spirit_value.h"
#include "testing/library_fixture.h"
#include "testing/log_capture.h"
#include "websvcs/framework/framework.h"
#include "websvcs/framework/memory_channel.h"

namespace tapectl_test {

using test_support::Log_Capture;

// The routes of the handlers.
const char LIST[] = "/d2/r/tapectl/list";
const char INFO[] = "/d2/r/tapectl/info";
const char REFRESH[] = "/d2/r/tapectl/changer/refresh";
const char TRANSFER[] = "/d2/r/tapectl/media/transfer";
const char LOAD[] = "/d2/r/tapectl/drive/load";
const char UNLOAD[] = "/d2/r/tapectl/drive/unload";

// The reply of one request run through a handler.
struct Reply {
  int result = 0;           // what the handler returned
  int status = 0;           // final HTTP status
  std::string body;         // raw body text
  json_spirit::Value json;  // body parsed (null when empty or not JSON)
  // The reply as an object (empty when it is not one).
  json_spirit::Object obj() const;
  // The "message" of an error body, "" when none.
  std::string message() const;
};

// Runs `handler` on a request from the loopback address.
Reply run(JSON_RESTful_Handler& handler, int method, const std::string& target,
          const std::string& body = std::string());

// A transfer request body for the library `serial`.
std::string move_body(const std::string& tag, int from, int to,
                      const std::string& serial = "LIB-1");

// The emulated sample: library "LIB-1" with 8 storage and 1 porter slot,
// drives "LIB-1-D0" (/dev/st0) and "LIB-1-D1" (/dev/st1), cartridges
// "T0001L9".."T0004L9" in slots 1-4, the cleaning cartridge "CLN001L1" in
// slot 6 and an unlabelled one in slot 7. `faults` is the JSON text of the
// changer's "faults" array.
std::string sample_library(const std::string& faults = "[]");

// The library and inventory of Library_Test with the process's controller.
class Tapectl_Test : public test_support::Library_Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Tape_Controller* tested() override { return Tape_Controller::instance(); }

  // Opens the controller on the library and inventory; true on success.
  bool open_controller();
  // use_library(sample_library()), open, and rescan "LIB-1" so that the
  // inventory holds it.
  void open_sample();
};

}  // namespace tapectl_test

#endif
