// A test on an emulated tape library and a fresh SQLite inventory, both in
// a temporary folder: the library described as a layout (or as text) and
// installed as the host's devices, the inventory's rows of a controller,
// and the check that the inventory agrees with the emulator's own record
// of every cartridge. Shared by the controller's and the handlers' tests.
#ifndef TESTING_LIBRARY_FIXTURE_H
#define TESTING_LIBRARY_FIXTURE_H

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "json_spirit/json_spirit_value.h"
#include "testing/temp_dir.h"

namespace test_support {

// The emulated library, as written into the library file.
struct Drive_Layout {
  std::string serial_number, target_name, sg_name, dev_name;
  bool attached = true;  // false: another host's drive, no device here
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
  int automation_address_shift = 0;  // added to what VPD 0xB4 says
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

// The library file's text for `layout` (state kept in "library.state").
std::string library_json(const Library_Layout& layout);

class Library_Test : public ::testing::Test {
 protected:
  // The database layer points at <dir>/media_controller.db.
  void SetUp() override;
  // Devices and database layer put back.
  void TearDown() override;

  // The controller whose inventory the row reads and the check use.
  virtual Tape_Controller* tested() = 0;

  // Writes the library file and uses it as the host's devices; later
  // calls keep the cartridge positions (devices renamed, faults changed).
  void use_library(const std::string& text);
  // use_library() of the layout, remembered in layout_.
  void write_library(const Library_Layout& layout);
  // Rewrites layout_ with these faults on its first changer.
  void set_faults(const std::vector<Fault_Layout>& faults);
  const std::string& library_file() const { return library_file_; }

  // Where the emulator has a cartridge: "slot:<n>", "drive:<n>" or "".
  std::string where_is(const std::string& barcode) const;

  // Inventory reads; empty rows and -1 (0 for the slot) when absent.
  ACE_INT64 changer_id(const std::string& serial);
  json_spirit::Object drive_row(const std::string& drive_serial);
  json_spirit::Object slot_row(const std::string& changer_serial, int slot);
  int drive_failures(const std::string& drive_serial);
  int stored_slot(const std::string& drive_serial);

  // The inventory agrees with the emulator for every changer in it: the
  // slot rows carry exactly the tags of the cartridges in those slots and
  // of the cartridges out in drives at their home slots; the drive rows
  // record exactly the home slots of the cartridges their drives hold.
  void expect_consistent();

  Temp_Dir dir_{"library_test"};
  const std::string library_file_ = dir_.file("library.json");
  Library_Layout layout_;

 private:
  Tape_Controller_Impl* impl();
};

}  // namespace test_support

#endif
