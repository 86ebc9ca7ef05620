// Test fixture for the tape controller: an emulated tape library written
// into a temporary folder, a fresh SQLite inventory beside it, a controller
// whose protected steps are reachable, log capture, and the check that the
// inventory agrees with the emulator's own record of every cartridge.
#ifndef D2T_CONTROLLER_TESTS_SUPPORT_CONTROLLER_FIXTURE_H
#define D2T_CONTROLLER_TESTS_SUPPORT_CONTROLLER_FIXTURE_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ace/Log_Msg_Callback.h>

#include "d2t/controller/tape_controller.h"
#include "json_spirit/json_spirit_value.h"

namespace controller_test {

// A temporary folder removed with everything in it.
class Temp_Dir {
 public:
  Temp_Dir();
  ~Temp_Dir();
  Temp_Dir(const Temp_Dir&) = delete;
  Temp_Dir& operator=(const Temp_Dir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct Drive_Spec {
  std::string serial_number;
  std::string target_name;
  std::string sg_name;
  std::string dev_name;
};

struct Cartridge_Spec {
  int slot = 0;    // 1-based slot, or 0 with `drive` set
  int drive = -1;  // 0-based drive index
  std::string barcode;
  long long capacity = 0;
  bool cleaning = false;
};

struct Fault_Spec {
  std::string op;     // "mount", "unmount", "transfer", "ready"
  std::string drive;  // drive serial; empty: any
  int times = 1;
  bool hardware = false;
};

struct Changer_Spec {
  std::string serial_number = "CHG0001";
  std::string target_name = "1:0:0";
  std::string sg_name = "/dev/sg10";
  int storage_slots = 10;
  int porter_slots = 0;
  std::vector<Drive_Spec> drives;
  std::vector<Cartridge_Spec> cartridges;
  int fill = 0;  // generated cartridges "B<5 digits>L9" in the lowest free slots
  long long fill_capacity = 0;
  std::vector<Fault_Spec> faults;
};

struct Library_Spec {
  long long move_ms = 0;
  long long load_ms = 0;
  long long unload_ms = 0;
  std::vector<Changer_Spec> changers;
};

// A changer with `drives` drives (serials "<serial>-D<n>", target "2:0:<n>",
// sg "/dev/sg<20+n>", tape "/dev/st<n>") and `cartridges` tagged
// cartridges "T0001L9"... in slots 1..n. `base` offsets device numbers so
// several changers can share a library.
Changer_Spec make_changer(const std::string& serial, int slots, int drives, int cartridges,
                          int base = 0);

// The controller with its protected steps made public for tests.
class Test_Controller : public Tape_Controller {
 public:
  using Tape_Controller::add_tape_library;
  using Tape_Controller::detect_changer_type;
  using Tape_Controller::detect_drives;
  using Tape_Controller::get_changer_id;
  using Tape_Controller::get_drive_name;
  using Tape_Controller::load_config;
  using Tape_Controller::pre_load;
  using Tape_Controller::remove_unavailable;
  using Tape_Controller::scan_all_media;
  using Tape_Controller::scan_tapelib;
  using Tape_Controller::update;
  using Tape_Controller::update_device_name;
  using Tape_Controller::update_slots;
};

// A clock for scans: time moves only by sleeping or by `step_ms` on each
// reading. Counts the sleeps.
class Fake_Controller_Clock : public Controller_Clock {
 public:
  explicit Fake_Controller_Clock(ACE_UINT64 step_ms = 0) : step_ms_(step_ms) {}
  ACE_UINT64 now_ms() override { return now_.fetch_add(step_ms_) ; }
  void sleep_seconds(unsigned int seconds) override {
    now_ += 1000ULL * seconds;
    ++sleeps_;
  }
  int sleeps() const { return sleeps_.load(); }

 private:
  ACE_UINT64 step_ms_;
  std::atomic<ACE_UINT64> now_{1000000};
  std::atomic<int> sleeps_{0};
};

// Records every log line written by the thread that made it (and by any
// thread that calls attach_this_thread()).
class Log_Capture : public ACE_Log_Msg_Callback {
 public:
  Log_Capture();
  ~Log_Capture() override;
  void attach_this_thread();
  void log(ACE_Log_Record& record) override;
  // True when some line contains `text`.
  bool contains(const std::string& text) const;
  std::vector<std::string> lines() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class Controller_Test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the library file (replacing an earlier one: devices renamed,
  // faults changed) and uses it as the host's devices. The first call
  // creates the state; later calls keep the cartridge positions.
  void write_library(const Library_Spec& spec);
  const std::string& library_file() const { return library_file_; }

  // A controller opened on the fresh inventory (configuration read from
  // config_file(), absent unless write_config() was called).
  Test_Controller& controller();
  bool open_controller();
  void write_config(const std::string& text);
  std::string config_file() const { return dir_.file("media_controller.conf"); }

  // rescan() of `serial`, expecting the library back.
  void rescan_ok(const std::string& serial);

  // Inventory reads.
  ACE_INT64 changer_id(const std::string& serial);
  json_spirit::Object drive_row(const std::string& drive_serial);
  json_spirit::Object slot_row(const std::string& changer_serial, int slot);
  int drive_failures(const std::string& drive_serial);

  // Where the emulator says a cartridge is: "slot:<n>", "drive:<n>" or "".
  std::string where_is(const std::string& barcode);

  // The inventory agrees with the emulator for every changer in it: each
  // tagged cartridge in a slot is recorded in that slot; each in a drive
  // is recorded as that drive's slot, whose row keeps its tag; no tag is
  // recorded twice; no drive claims a cartridge it does not hold.
  void expect_consistent();

  Temp_Dir dir_;
  std::string library_file_;
  std::unique_ptr<Test_Controller> controller_;
};

json_spirit::Object request(const std::string& drive_serial, const std::string& media_tag = "");

}  // namespace controller_test

#endif
