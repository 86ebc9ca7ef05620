#include "d2t/controller/tests/support/controller_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>

#include "d2t/emulator/emulator.h"
#include "d2t/emulator/library.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"
#include "database/manager.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

namespace controller_test {

Temp_Dir::Temp_Dir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/controller_test.XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  path_ = buf.data();
}

Temp_Dir::~Temp_Dir() {
  if (!path_.empty()) {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", path_.c_str());
  }
}

Changer_Spec make_changer(const std::string& serial, int slots, int drives, int cartridges, int base) {
  Changer_Spec c;
  c.serial_number = serial;
  c.target_name = "1:0:" + std::to_string(base);
  c.sg_name = "/dev/sg" + std::to_string(100 + base);
  c.storage_slots = slots;
  for (int i = 0; i < drives; ++i) {
    Drive_Spec d;
    d.serial_number = serial + "-D" + std::to_string(i);
    d.target_name = "2:0:" + std::to_string(base + i);
    d.sg_name = "/dev/sg" + std::to_string(200 + base + i);
    d.dev_name = "/dev/st" + std::to_string(base + i);
    c.drives.push_back(d);
  }
  for (int i = 0; i < cartridges; ++i) {
    Cartridge_Spec t;
    t.slot = i + 1;
    char tag[32];
    std::snprintf(tag, sizeof tag, "%.3s%04dL9", serial.c_str(), i + 1);
    t.barcode = tag;
    c.cartridges.push_back(t);
  }
  return c;
}

// ---------------------------------------------------------------- logs

Log_Capture::Log_Capture() { attach_this_thread(); }

Log_Capture::~Log_Capture() {
  ACE_LOG_MSG->msg_callback(nullptr);
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::MSG_CALLBACK);
}

void Log_Capture::attach_this_thread() {
  ACE_LOG_MSG->msg_callback(this);
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::MSG_CALLBACK);
}

void Log_Capture::log(ACE_Log_Record& record) {
  std::lock_guard<std::mutex> guard(mutex_);
  lines_.emplace_back(record.msg_data());
}

bool Log_Capture::contains(const std::string& text) const {
  std::lock_guard<std::mutex> guard(mutex_);
  for (const std::string& l : lines_) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

std::vector<std::string> Log_Capture::lines() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return lines_;
}

// ---------------------------------------------------------------- fixture

void Controller_Test::SetUp() {
  ASSERT_FALSE(dir_.path().empty());
  library_file_ = dir_.file("library.json");
  database::sql::Legacy_Manager::instance()->reset_for_testing();
  ASSERT_TRUE(database::sql::Legacy_Manager::instance()->configure(
      "sqlite:" + dir_.file("media_controller.db")));
}

void Controller_Test::TearDown() {
  controller_.reset();
  d2t::tools::set_device_provider(nullptr);
  database::sql::Legacy_Manager::instance()->reset_for_testing();
}

void Controller_Test::write_library(const Library_Spec& spec) {
  Object root;
  root["state_file"] = "library.state";
  Object timing;
  timing["move_ms"] = spec.move_ms;
  timing["load_ms"] = spec.load_ms;
  timing["unload_ms"] = spec.unload_ms;
  root["timing"] = timing;
  Array changers;
  for (const Changer_Spec& c : spec.changers) {
    Object o;
    o["serial_number"] = c.serial_number;
    o["target_name"] = c.target_name;
    o["lun"] = 0;
    o["sg_name"] = c.sg_name;
    o["storage_slots"] = c.storage_slots;
    o["porter_slots"] = c.porter_slots;
    Array drives;
    for (const Drive_Spec& d : c.drives) {
      Object od;
      od["serial_number"] = d.serial_number;
      od["target_name"] = d.target_name;
      od["lun"] = 0;
      od["sg_name"] = d.sg_name;
      od["dev_name"] = d.dev_name;
      drives.push_back(od);
    }
    o["drives"] = drives;
    Array carts;
    for (const Cartridge_Spec& t : c.cartridges) {
      Object ot;
      if (t.drive >= 0) {
        ot["drive"] = t.drive;
      } else {
        ot["slot"] = t.slot;
      }
      ot["barcode"] = t.barcode;
      if (t.capacity) ot["capacity"] = t.capacity;
      if (t.cleaning) ot["cleaning"] = true;
      carts.push_back(ot);
    }
    o["cartridges"] = carts;
    if (c.fill > 0) {
      Object fill;
      fill["cartridges"] = c.fill;
      if (c.fill_capacity) fill["capacity"] = c.fill_capacity;
      o["fill"] = fill;
    }
    Array faults;
    for (const Fault_Spec& f : c.faults) {
      Object of;
      of["op"] = f.op;
      if (!f.drive.empty()) of["drive"] = f.drive;
      of["times"] = f.times;
      of["hardware"] = f.hardware;
      faults.push_back(of);
    }
    o["faults"] = faults;
    changers.push_back(o);
  }
  root["changers"] = changers;

  const std::string tmp = library_file_ + ".tmp";
  {
    std::ofstream out(tmp);
    out << json_spirit::write(Value(root));
  }
  ASSERT_EQ(0, std::rename(tmp.c_str(), library_file_.c_str()));

  std::string error;
  std::shared_ptr<d2t::scsi::Device_Provider> provider =
      d2t::emulator::make_provider(library_file_, &error);
  ASSERT_TRUE(provider) << error;
  d2t::tools::set_device_provider(provider);
}

Test_Controller& Controller_Test::controller() {
  if (!controller_) {
    controller_.reset(new Test_Controller());
    controller_->config_path(config_file());
  }
  return *controller_;
}

bool Controller_Test::open_controller() { return controller().open(); }

void Controller_Test::write_config(const std::string& text) {
  std::ofstream out(config_file());
  out << text;
}

void Controller_Test::rescan_ok(const std::string& serial) {
  std::vector<d2t::Changer_var> changers;
  ASSERT_TRUE(controller().rescan(serial, changers));
  bool found = false;
  for (const d2t::Changer_var& c : changers) found = found || match_changer(c, serial);
  ASSERT_TRUE(found) << "rescan did not return " << serial;
}

ACE_INT64 Controller_Test::changer_id(const std::string& serial) {
  Object row;
  std::int64_t id = -1;
  if (controller().impl() && controller().impl()->get_changer(serial, row)) {
    json_spirit::object_get(row, "id", id);
  }
  return id;
}

Object Controller_Test::drive_row(const std::string& drive_serial) {
  Object row;
  if (controller().impl()) controller().impl()->get_drive(drive_serial, row);
  return row;
}

Object Controller_Test::slot_row(const std::string& changer_serial, int slot) {
  Object row;
  if (controller().impl()) controller().impl()->get_slot(changer_serial, slot, row);
  return row;
}

int Controller_Test::drive_failures(const std::string& drive_serial) {
  int failures = -1;
  json_spirit::object_get(drive_row(drive_serial), "failures", failures);
  return failures;
}

std::string Controller_Test::where_is(const std::string& barcode) {
  std::string error;
  std::shared_ptr<d2t::emulator::Library> lib = d2t::emulator::Library::open(library_file_, &error);
  if (!lib) return "error: " + error;
  std::vector<d2t::emulator::Cartridge_Info> carts;
  if (!lib->cartridges(carts, &error)) return "error: " + error;
  for (const auto& c : carts) {
    if (c.barcode != barcode) continue;
    if (c.place == d2t::emulator::Place::DRIVE) return "drive:" + std::to_string(c.drive);
    return "slot:" + std::to_string(c.slot);
  }
  return "";
}

void Controller_Test::expect_consistent() {
  std::string error;
  std::shared_ptr<d2t::emulator::Library> lib = d2t::emulator::Library::open(library_file_, &error);
  ASSERT_TRUE(lib) << error;
  std::vector<d2t::emulator::Cartridge_Info> carts;
  ASSERT_TRUE(lib->cartridges(carts, &error)) << error;
  std::shared_ptr<const d2t::emulator::Library_Config> config = lib->config();
  Tape_Controller_Impl* impl = controller().impl();
  ASSERT_NE(nullptr, impl);

  for (const d2t::emulator::Changer_Config& cc : config->changers) {
    const std::string& serial = cc.serial_number;
    const ACE_INT64 id = changer_id(serial);
    if (id < 0) continue;  // not in the inventory

    Array rows;
    ASSERT_TRUE(impl->get_slots(id, rows));
    std::map<int, std::string> tag_by_slot;
    std::map<std::string, int> tag_count;
    for (const Value& v : rows) {
      const Object& o = v.get_obj();
      int n = 0;
      ASSERT_TRUE(json_spirit::object_get(o, "slot_number", n));
      if (const std::string* tag = json_spirit::object_get_str(o, "media_tag")) {
        tag_by_slot[n] = *tag;
        ++tag_count[*tag];
      }
    }
    for (const auto& tc : tag_count) {
      EXPECT_EQ(1, tc.second) << serial << ": tag " << tc.first << " recorded in several slots";
    }
    std::map<int, int> drive_slot;  // drive index -> stored slot (0 none); absent: no row
    for (std::size_t i = 0; i < cc.drives.size(); ++i) {
      Object row;
      if (!impl->get_drive(id, static_cast<ACE_INT32>(i), row)) continue;
      int s = 0;
      json_spirit::object_get(row, "slot_number", s);
      drive_slot[static_cast<int>(i)] = s;
    }

    std::map<std::string, const d2t::emulator::Cartridge_Info*> by_tag;
    for (const auto& c : carts) {
      if (c.changer_serial != serial || c.barcode.empty()) continue;
      by_tag[c.barcode] = &c;
      if (c.place == d2t::emulator::Place::DRIVE) {
        auto d = drive_slot.find(c.drive);
        ASSERT_NE(drive_slot.end(), d) << serial << ": " << c.barcode << " is in drive " << c.drive
                                       << ", which the inventory does not know";
        EXPECT_EQ(c.home_slot, d->second) << serial << ": drive " << c.drive << " holds " << c.barcode;
        EXPECT_EQ(c.barcode, tag_by_slot[c.home_slot])
            << serial << ": home slot " << c.home_slot << " of " << c.barcode << " lost its tag";
      } else {
        EXPECT_EQ(c.barcode, tag_by_slot[c.slot]) << serial << ": slot " << c.slot;
      }
    }
    for (const auto& ts : tag_by_slot) {
      auto c = by_tag.find(ts.second);
      ASSERT_NE(by_tag.end(), c) << serial << ": slot " << ts.first << " records unknown tag " << ts.second;
      const bool here = c->second->place != d2t::emulator::Place::DRIVE && c->second->slot == ts.first;
      const bool out = c->second->place == d2t::emulator::Place::DRIVE && c->second->home_slot == ts.first;
      EXPECT_TRUE(here || out) << serial << ": slot " << ts.first << " records " << ts.second;
    }
    for (const auto& ds : drive_slot) {
      if (ds.second <= 0) continue;
      bool holds = false;
      for (const auto& c : carts) {
        holds = holds || (c.changer_serial == serial && c.place == d2t::emulator::Place::DRIVE &&
                          c.drive == ds.first && c.home_slot == ds.second);
      }
      EXPECT_TRUE(holds) << serial << ": drive " << ds.first << " claims slot " << ds.second;
    }
  }
}

Object request(const std::string& drive_serial, const std::string& media_tag) {
  Object r;
  r["serial_number"] = drive_serial;
  if (!media_tag.empty()) r["media_tag"] = media_tag;
  return r;
}

}  // namespace controller_test
