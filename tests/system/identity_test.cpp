// Drive identification end to end: the demo daemon lists the sample
// library (its changer reports T10 drive identifiers) and then the same
// library with "dvcid": "none", where the drives are found by loading.
// Both give the same drive mapping; the list reply, the inventory (read
// with sqlite3) and the emulated library (read with mtx) agree.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "tests/system/system_support.h"

using json_spirit::Object;
using json_spirit::Value;
using namespace system_test;

namespace {

// The library's drives and tagged slots as the list reply gives them:
// "drive_number:serial:dev_name:sg_name ..." and a slot view.
struct Listed {
  std::string drives;
  Library_View slots;
};

Listed list(const Demo_Daemon& d) {
  Listed out;
  const Http_Reply r = d.get(std::string("/d2/r/tapectl/list?serial_number=") + SERIAL);
  Value v;
  if (r.status != 200 || !json_spirit::read(r.body, v) || v.type() != json_spirit::array_type ||
      v.get_array().size() != 1) {
    out.slots.error = "list answered " + std::to_string(r.status) + " " + r.body;
    return out;
  }
  const Object& lib = v.get_array()[0].get_obj();
  for (const Value& dv : lib.at("drives").get_array()) {
    const Object& o = dv.get_obj();
    out.drives += std::to_string(o.at("drive_number").get_int()) + ":" +
                  o.at("serial_number").get_str() + ":" + o.at("dev_name").get_str() + ":" +
                  o.at("sg_name").get_str() + " ";
  }
  for (const Value& sv : lib.at("slots").get_array()) {
    const std::string* tag = json_spirit::object_get_str(sv.get_obj(), "media_tag");
    if (tag != nullptr && !tag->empty())
      out.slots.slots[sv.get_obj().at("slot_number").get_int()] = *tag;
  }
  out.slots.ok = true;
  return out;
}

// The stored drives in the list reply's form.
std::string stored_drives(const std::string& db) {
  int status = 0;
  std::string text = run_command(
      "sqlite3 -separator : '" + db +
          "' \"select d.drive_number, d.serial_number, d.dev_name, d.sg_name from drive d join "
          "changer c on c.id = d.changer_id where c.serial_number = '" +
          SERIAL + "' order by d.drive_number\"",
      status);
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) out += line + " ";
  return status == 0 ? out : "sqlite3 failed: " + text;
}

// The tagged slots only (the list reply has no drive-to-slot pairs).
std::string describe_slots(const Library_View& v) {
  Library_View slots;
  slots.slots = v.slots;
  return describe(slots);
}

class E2E_Identity_Test : public Temp_Dir {};

TEST_F(E2E_Identity_Test, IdentifiersAndLoadingGiveTheSameMapping) {
  ASSERT_TRUE(have_program("sqlite3")) << "sqlite3 is not installed";
  ASSERT_TRUE(have_program("mtx")) << "mtx is not installed";
  const int port = free_loopback_port();
  ASSERT_GT(port, 0);
  Demo_Daemon d(dir_ + "/run", port);
  std::string error;
  ASSERT_TRUE(d.start(error)) << error;
  const std::string db = d.db_file();

  const Listed by_identifier = list(d);
  ASSERT_TRUE(by_identifier.slots.ok) << by_identifier.slots.error;
  EXPECT_NE(std::string::npos, d.log_text().find("2 by serial number")) << d.log_text();
  EXPECT_EQ(by_identifier.drives, stored_drives(db));
  const Library_View mtx = mtx_view(d.library_file(), CHANGER_SG);
  ASSERT_TRUE(mtx.ok) << mtx.error;
  EXPECT_EQ(describe_slots(mtx), describe_slots(by_identifier.slots));
  EXPECT_EQ(describe_slots(sqlite_view(db, SERIAL)), describe_slots(by_identifier.slots));

  ASSERT_NO_FATAL_FAILURE(set_changer_key(d.library_file(), "dvcid", "\"none\""));
  const Listed by_loading = list(d);
  ASSERT_TRUE(by_loading.slots.ok) << by_loading.slots.error;
  EXPECT_NE(std::string::npos, d.log_text().find("0 by serial number")) << d.log_text();
  EXPECT_EQ(by_identifier.drives, by_loading.drives);
  EXPECT_EQ(describe_slots(by_identifier.slots), describe_slots(by_loading.slots));
  EXPECT_EQ(by_loading.drives, stored_drives(db));
  EXPECT_EQ(0, d.stop());
}

}  // namespace
