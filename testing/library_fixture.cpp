#include "testing/library_fixture.h"

#include <cstdio>
#include <memory>

#include "d2t/controller/tape_controller_impl.h"
#include "d2t/emulator/library.h"
#include "d2t/tools/provider.h"
#include "database/manager.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "testing/emulated_library.h"

using json_spirit::Array;
using json_spirit::insert;
using json_spirit::Object;
using json_spirit::Value;

namespace test_support {

Changer_Layout make_changer(const std::string& serial, int slots, int drives, int cartridges,
                            int base) {
  Changer_Layout c;
  c.serial_number = serial;
  c.target_name = "1:0:" + std::to_string(base);
  c.sg_name = "/dev/sg" + std::to_string(100 + base);
  c.storage_slots = slots;
  for (int i = 0; i < drives; ++i) {
    const std::string n = std::to_string(base + i);
    c.drives.push_back({serial + "-D" + std::to_string(i), "2:0:" + n,
                        "/dev/sg" + std::to_string(200 + base + i), "/dev/st" + n});
  }
  for (int i = 0; i < cartridges; ++i) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "%.3s%04dL9", serial.c_str(), i + 1);
    c.cartridges.push_back({i + 1, -1, tag});
  }
  return c;
}

std::string library_json(const Library_Layout& layout) {
  Object root, timing;
  insert(timing)("move_ms", layout.move_ms)("load_ms", layout.load_ms)("unload_ms",
                                                                       layout.unload_ms);
  insert(root)("state_file", "library.state")("timing", timing);
  Array changers;
  for (const Changer_Layout& c : layout.changers) {
    Object o;
    insert(o)("serial_number", c.serial_number)("target_name", c.target_name)("lun", 0)(
        "sg_name", c.sg_name)("storage_slots", c.storage_slots)("porter_slots", c.porter_slots);
    if (!c.dvcid.empty()) o["dvcid"] = c.dvcid;
    if (c.automation_address_shift) o["automation_address_shift"] = c.automation_address_shift;
    Array drives, carts, faults;
    for (const Drive_Layout& d : c.drives) {
      Object od;
      insert(od)("serial_number", d.serial_number)("target_name", d.target_name)("lun", 0)(
          "sg_name", d.sg_name)("dev_name", d.dev_name);
      if (c.automation_vpd) od["automation_vpd"] = true;
      if (!d.attached) od["attached"] = false;
      auto id = c.element_identifier.find(d.serial_number);
      if (id != c.element_identifier.end()) od["element_identifier"] = id->second;
      drives.push_back(od);
    }
    for (const Cartridge_Layout& t : c.cartridges) {
      Object ot;
      insert(ot)(t.drive >= 0 ? "drive" : "slot", t.drive >= 0 ? t.drive : t.slot)("barcode",
                                                                                   t.barcode);
      if (t.capacity) ot["capacity"] = t.capacity;
      if (t.cleaning) ot["cleaning"] = true;
      carts.push_back(ot);
    }
    for (const Fault_Layout& f : c.faults) {
      Object of;
      insert(of)("op", f.op)("times", f.times)("hardware", f.hardware);
      if (!f.drive.empty()) of["drive"] = f.drive;
      faults.push_back(of);
    }
    insert(o)("drives", drives)("cartridges", carts)("faults", faults);
    changers.push_back(o);
  }
  root["changers"] = changers;
  return json_spirit::write(Value(root));
}

void Library_Test::SetUp() {
  ASSERT_FALSE(dir_.path().empty());
  database::sql::Legacy_Manager::instance()->reset_for_testing();
  ASSERT_TRUE(database::sql::Legacy_Manager::instance()->configure(
      "sqlite:" + dir_.file("media_controller.db")));
}

void Library_Test::TearDown() {
  d2t::tools::set_device_provider(nullptr);
  database::sql::Legacy_Manager::instance()->reset_for_testing();
}

void Library_Test::use_library(const std::string& text) {
  ASSERT_TRUE(install_library(library_file_, text));
}

void Library_Test::write_library(const Library_Layout& layout) {
  layout_ = layout;
  use_library(library_json(layout));
}

void Library_Test::set_faults(const std::vector<Fault_Layout>& faults) {
  Library_Layout layout = layout_;
  layout.changers.at(0).faults = faults;
  write_library(layout);
}

std::string Library_Test::where_is(const std::string& barcode) const {
  return test_support::where_is(library_file_, barcode);
}

Tape_Controller_Impl* Library_Test::impl() {
  Tape_Controller* c = tested();
  return c ? c->impl() : nullptr;
}

ACE_INT64 Library_Test::changer_id(const std::string& serial) {
  Object row;
  std::int64_t id = -1;
  if (impl() && impl()->get_changer(serial, row)) json_spirit::object_get(row, "id", id);
  return id;
}

Object Library_Test::drive_row(const std::string& drive_serial) {
  Object row;
  if (impl()) impl()->get_drive(drive_serial, row);
  return row;
}

Object Library_Test::slot_row(const std::string& changer_serial, int slot) {
  Object row;
  if (impl()) impl()->get_slot(changer_serial, slot, row);
  return row;
}

int Library_Test::drive_failures(const std::string& drive_serial) {
  int failures = -1;
  json_spirit::object_get(drive_row(drive_serial), "failures", failures);
  return failures;
}

int Library_Test::stored_slot(const std::string& drive_serial) {
  int slot = 0;
  json_spirit::object_get(drive_row(drive_serial), "slot_number", slot);
  return slot;
}

void Library_Test::expect_consistent() {
  std::string error;
  std::shared_ptr<d2t::emulator::Library> lib = d2t::emulator::Library::open(library_file_, &error);
  ASSERT_TRUE(lib) << error;
  std::vector<d2t::emulator::Cartridge_Info> carts;
  ASSERT_TRUE(lib->cartridges(carts, &error)) << error;
  Tape_Controller_Impl* inventory = impl();
  ASSERT_NE(nullptr, inventory);

  for (const d2t::emulator::Changer_Config& cc : lib->config()->changers) {
    const std::string& serial = cc.serial_number;
    const ACE_INT64 id = changer_id(serial);
    if (id < 0) continue;  // not in the inventory
    // slot -> tag and drive -> home slot, as the emulator and the inventory see them
    std::map<int, std::string> want_tags, have_tags;
    std::map<int, int> want_drives, have_drives;
    for (const auto& c : carts) {
      if (c.changer_serial != serial) continue;
      const bool in_drive = c.place == d2t::emulator::Place::DRIVE;
      if (in_drive) want_drives[c.drive] = c.home_slot;
      if (!c.barcode.empty()) want_tags[in_drive ? c.home_slot : c.slot] = c.barcode;
    }
    Array rows;
    ASSERT_TRUE(inventory->get_slots(id, rows));
    for (const Value& v : rows) {
      int n = 0;
      ASSERT_TRUE(json_spirit::object_get(v.get_obj(), "slot_number", n));
      if (const std::string* tag = json_spirit::object_get_str(v.get_obj(), "media_tag")) {
        EXPECT_TRUE(have_tags.emplace(n, *tag).second) << serial << ": two rows of slot " << n;
      }
    }
    for (std::size_t i = 0; i < cc.drives.size(); ++i) {
      Object row;
      int s = 0;
      if (inventory->get_drive(id, static_cast<ACE_INT32>(i), row) &&
          json_spirit::object_get(row, "slot_number", s) && s > 0) {
        have_drives[static_cast<int>(i)] = s;
      }
    }
    EXPECT_EQ(want_tags, have_tags) << serial << ": slot tags (slot -> tag)";
    EXPECT_EQ(want_drives, have_drives) << serial << ": drive slots (drive -> home slot)";
  }
}

}  // namespace test_support
