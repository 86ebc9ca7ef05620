// Test fixture for the tape controller: the emulated library and SQLite
// inventory of test_support::Library_Test, a controller whose protected
// steps are reachable, and log capture.
#ifndef D2T_CONTROLLER_TESTS_SUPPORT_CONTROLLER_FIXTURE_H
#define D2T_CONTROLLER_TESTS_SUPPORT_CONTROLLER_FIXTURE_H

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "d2t/controller/tests/support/test_util.h"
#include "json_spirit/json_spirit_value.h"
#include "testing/library_fixture.h"

namespace controller_test {

using test_support::Cartridge_Layout;
using test_support::Changer_Layout;
using test_support::Library_Layout;
using test_support::make_changer;

// The controller with the protected steps tests call made public.
class Test_Controller : public Tape_Controller {
 public:
  using Tape_Controller::detect_drives;
  using Tape_Controller::get_changer_id;
  using Tape_Controller::load_config;
  using Tape_Controller::rediscover_names;
  using Tape_Controller::remove_unavailable;
};

using Fake_Controller_Clock = Manual_Controller_Clock;

// The library and inventory of Library_Test with a Test_Controller of the
// test's own.
class Controller_Test : public test_support::Library_Test {
 protected:
  void TearDown() override;
  Tape_Controller* tested() override { return &controller(); }

  // A controller opened on the fresh inventory (configuration read from
  // config_file(), absent unless write_config() was called).
  Test_Controller& controller();
  bool open_controller();
  void write_config(const std::string& text);
  std::string config_file() const { return dir_.file("media_controller.conf"); }
  // write_library(layout), write_config(config) unless empty, open, and
  // rescan_ok() of every changer of the layout.
  void start(const Library_Layout& layout, const std::string& config = "");

  // rescan() of `serial`, expecting the library back.
  void rescan_ok(const std::string& serial);
  // rescan() of `serial`, expecting it to succeed: the one library it gives
  // back (null when none).
  d2t::Changer_var rescan(const std::string& serial);
  // Each drive "<serial>-D<i>" of `drives` is stored at element i with the
  // tape device "/dev/st<i>".
  void expect_mapped(const std::string& serial, const std::vector<int>& drives);

  // load() / unload() expecting `ok`; the response.
  json_spirit::Object load(const std::string& drive, const std::string& tag, bool ok);
  json_spirit::Object unload(const std::string& drive, bool ok);

  std::unique_ptr<Test_Controller> controller_;
};

json_spirit::Object request(const std::string& drive_serial, const std::string& media_tag = "");
// The string `key` of `o`; "" when absent or not a string.
std::string str(const json_spirit::Object& o, const std::string& key);
// "kind/drive" of each running, then of each queued operation of `library`
// in an operations snapshot, e.g. "run load/D0 load/D1 | wait refresh/"; ""
// when the library is idle.
std::string queue_of(const json_spirit::Array& snapshot, const std::string& library);
// Waits (generously, polling) until `done`; whether it came.
bool eventually(const std::function<bool()>& done);

}  // namespace controller_test

#endif
