// Test fixture for the tape controller: an emulated tape library written
// into a temporary folder, a fresh SQLite inventory beside it, a controller
// whose protected steps are reachable, log capture, and the check that the
// inventory agrees with the emulator's own record of every cartridge.
#ifndef D2T_CONTROLLER_TESTS_SUPPORT_CONTROLLER_FIXTURE_H
#define D2T_CONTROLLER_TESTS_SUPPORT_CONTROLLER_FIXTURE_H

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "d2t/controller/tests/support/test_util.h"
#include "json_spirit/json_spirit_value.h"

namespace controller_test {

// The emulated library, as written into the library file.
struct Drive_Layout {
  std::string serial_number, target_name, sg_name, dev_name;
};

struct Cartridge_Layout {
  int slot = 0;    // 1-based slot, or 0 with `drive` set
  int drive = -1;  // 0-based drive index
  std::string barcode;
  long long capacity = 0;
  bool cleaning = false;
};

struct Fault_Layout {
  std::string op;     // "mount", "unmount", "transfer", "ready"
  std::string drive;  // drive serial; empty: any
  int times = 1;
  bool hardware = false;  // true: not counted against the drive
};

struct Changer_Layout {
  std::string serial_number = "CHG0001";
  std::string target_name = "1:0:0";
  std::string sg_name = "/dev/sg10";
  int storage_slots = 10;
  int porter_slots = 0;
  std::string dvcid;            // empty: the emulator's default ("none")
  bool automation_vpd = false;  // every drive answers VPD 0xB3/0xB4
  // By drive serial: what the changer reports instead of that serial.
  std::map<std::string, std::string> element_identifier;
  std::vector<Drive_Layout> drives;
  std::vector<Cartridge_Layout> cartridges;
  std::vector<Fault_Layout> faults;
};

struct Library_Layout {
  long long move_ms = 0;
  long long load_ms = 0;
  long long unload_ms = 0;
  std::vector<Changer_Layout> changers;
};

// A changer with `drives` drives (serials "<serial>-D<n>", target
// "2:0:<base+n>", sg "/dev/sg<200+base+n>", tape "/dev/st<base+n>") and
// `cartridges` tagged cartridges "<first 3 of serial><4 digits>L9" in slots
// 1..n; its own target is "1:0:<base>", sg "/dev/sg<100+base>". `base`
// keeps the device names of several changers of one library apart.
Changer_Layout make_changer(const std::string& serial, int slots, int drives, int cartridges,
                            int base = 0);

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

class Controller_Test : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the library file (replacing an earlier one: devices renamed,
  // faults changed) and uses it as the host's devices; remembers it in
  // layout_. The first call creates the state; later calls keep the
  // cartridge positions.
  void write_library(const Library_Layout& layout);
  // Rewrites layout_ with these faults on its first changer.
  void set_faults(const std::vector<Fault_Layout>& faults);
  const std::string& library_file() const { return library_file_; }

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

  // load() / unload() expecting `ok`; the response.
  json_spirit::Object load(const std::string& drive, const std::string& tag, bool ok);
  json_spirit::Object unload(const std::string& drive, bool ok);

  // Inventory reads.
  ACE_INT64 changer_id(const std::string& serial);
  json_spirit::Object drive_row(const std::string& drive_serial);
  json_spirit::Object slot_row(const std::string& changer_serial, int slot);
  int drive_failures(const std::string& drive_serial);
  // The drive's stored slot, 0 when none.
  int stored_slot(const std::string& drive_serial);

  // Where the emulator says a cartridge is: "slot:<n>", "drive:<n>" or "".
  std::string where_is(const std::string& barcode);

  // The inventory agrees with the emulator for every changer in it: the
  // slot rows carry exactly the tags of the cartridges in those slots and
  // of the cartridges out in drives at their home slots; the drive rows
  // record exactly the home slots of the cartridges their drives hold.
  void expect_consistent();

  Temp_Dir dir_;
  std::string library_file_;
  Library_Layout layout_;
  std::unique_ptr<Test_Controller> controller_;
};

json_spirit::Object request(const std::string& drive_serial, const std::string& media_tag = "");
// The string `key` of `o`; "" when absent or not a string.
std::string str(const json_spirit::Object& o, const std::string& key);

}  // namespace controller_test

#endif
