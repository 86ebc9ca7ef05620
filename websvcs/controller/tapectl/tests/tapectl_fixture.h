// Test fixture for the tape-control handlers: an emulated tape library in a
// temporary folder, a fresh SQLite inventory beside it, the process's
// Tape_Controller opened on both (with fake clocks, so nothing really
// waits), and helpers to run a handler through an in-memory channel and to
// read the emulator's and the inventory's view of the cartridges.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_TESTS_TAPECTL_FIXTURE_H
#define WEBSVCS_CONTROLLER_TAPECTL_TESTS_TAPECTL_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "json_spirit/json_spirit_value.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"
#include "websvcs/framework/framework.h"
#include "websvcs/framework/memory_channel.h"

namespace tapectl_test {

using test_support::Log_Capture;

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

// dir_ holds the library file and the inventory.
class Tapectl_Test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes `library_text` as the library file and uses it as the host's
  // devices; later calls keep cartridge positions (faults may change).
  void use_library(const std::string& library_text);
  // Opens the controller on the library and inventory; true on success.
  bool open_controller();
  // use_library(sample_library()), open, and rescan "LIB-1" so that the
  // inventory holds it.
  void open_sample();

  // Where the emulator has a cartridge: "slot:<n>", "drive:<n>" or "".
  std::string where_is(const std::string& barcode);
  // Inventory rows.
  json_spirit::Object slot_row(const std::string& changer_serial, int slot);
  json_spirit::Object drive_row(const std::string& drive_serial);

  test_support::Temp_Dir tmp_{"tapectl_test"};
  const std::string dir_ = tmp_.path();
  const std::string library_file_ = tmp_.file("library.json");
};

}  // namespace tapectl_test

#endif
