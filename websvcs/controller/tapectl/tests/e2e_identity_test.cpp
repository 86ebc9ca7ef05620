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
#include "websvcs/controller/tapectl/tests/e2e_support.h"

using json_spirit::Object;
using json_spirit::Value;
using tapectl_test::Demo_Daemon;
using tapectl_test::Http_Reply;
using tapectl_test::Library_View;

namespace {

const char SERIAL[] = "EMU-LIB-0001";
const char CHANGER_SG[] = "/dev/sg10";

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
  std::string text = tapectl_test::run_command(
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

std::string describe(const Library_View& v) {
  std::ostringstream out;
  for (const auto& s : v.slots) out << s.first << "=" << s.second << " ";
  return out.str();
}

void set_dvcid(const std::string& library_file, const std::string& dvcid) {
  Value lib;
  ASSERT_TRUE(json_spirit::load_json(library_file, lib, 1));
  lib.get_obj()["changers"].get_array()[0].get_obj()["dvcid"] = dvcid;
  const std::string tmp = library_file + ".tmp";
  std::ofstream(tmp) << json_spirit::write(lib);
  ASSERT_EQ(0, std::rename(tmp.c_str(), library_file.c_str()));
}

class E2E_Identity_Test : public Temp_Dir {};

TEST_F(E2E_Identity_Test, IdentifiersAndLoadingGiveTheSameMapping) {
  ASSERT_TRUE(tapectl_test::have_program("sqlite3")) << "sqlite3 is not installed";
  ASSERT_TRUE(tapectl_test::have_program("mtx")) << "mtx is not installed";
  const int port = tapectl_test::free_loopback_port();
  ASSERT_GT(port, 0);
  Demo_Daemon d(dir_ + "/run", port);
  std::string error;
  ASSERT_TRUE(d.start(error)) << error;
  const std::string db = d.dir() + "/state/media_controller.db";

  const Listed by_identifier = list(d);
  ASSERT_TRUE(by_identifier.slots.ok) << by_identifier.slots.error;
  EXPECT_NE(std::string::npos, d.log_text().find("2 by serial number")) << d.log_text();
  EXPECT_EQ(by_identifier.drives, stored_drives(db));
  const Library_View mtx = tapectl_test::mtx_view(d.dir() + "/library.json", CHANGER_SG);
  ASSERT_TRUE(mtx.ok) << mtx.error;
  EXPECT_EQ(describe(mtx), describe(by_identifier.slots));
  EXPECT_EQ(describe(tapectl_test::sqlite_view(db, SERIAL)), describe(by_identifier.slots));

  ASSERT_NO_FATAL_FAILURE(set_dvcid(d.dir() + "/library.json", "none"));
  const Listed by_loading = list(d);
  ASSERT_TRUE(by_loading.slots.ok) << by_loading.slots.error;
  EXPECT_NE(std::string::npos, d.log_text().find("0 by serial number")) << d.log_text();
  EXPECT_EQ(by_identifier.drives, by_loading.drives);
  EXPECT_EQ(describe(by_identifier.slots), describe(by_loading.slots));
  EXPECT_EQ(by_loading.drives, stored_drives(db));
  EXPECT_EQ(0, d.stop());
}

}  // namespace
