#include "d2t/controller/tests/support/controller_fixture.h"

#include <chrono>
#include <thread>

#include "json_spirit/json_helpers.h"
#include "testing/temp_dir.h"

using json_spirit::Object;

namespace controller_test {

void Controller_Test::TearDown() {
  controller_.reset();
  Library_Test::TearDown();
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
  test_support::write_file(config_file(), text);
}

void Controller_Test::start(const Library_Layout& layout, const std::string& config) {
  write_library(layout);
  if (!config.empty()) write_config(config);
  ASSERT_TRUE(open_controller());
  for (const Changer_Layout& c : layout.changers) rescan_ok(c.serial_number);
}

void Controller_Test::rescan_ok(const std::string& serial) {
  std::vector<d2t::Changer_var> changers;
  ASSERT_TRUE(controller().rescan(serial, changers));
  bool found = false;
  for (const d2t::Changer_var& c : changers) found = found || match_changer(c, serial);
  ASSERT_TRUE(found) << "rescan did not return " << serial;
}

d2t::Changer_var Controller_Test::rescan(const std::string& serial) {
  std::vector<d2t::Changer_var> changers;
  EXPECT_TRUE(controller().rescan(serial, changers));
  d2t::Changer_var found;
  for (const d2t::Changer_var& c : changers) {
    if (c.null()) continue;
    EXPECT_TRUE(found.null()) << "more than one library returned";
    found = c;
  }
  return found;
}

void Controller_Test::expect_mapped(const std::string& serial, const std::vector<int>& drives) {
  for (int i : drives) {
    const std::string drive = serial + "-D" + std::to_string(i);
    const Object row = drive_row(drive);
    std::int64_t number = -1;
    EXPECT_TRUE(json_spirit::object_get(row, "drive_number", number)) << drive;
    EXPECT_EQ(i, number) << drive;
    EXPECT_EQ("/dev/st" + std::to_string(i), str(row, "dev_name")) << drive;
  }
}

Object Controller_Test::load(const std::string& drive, const std::string& tag, bool ok) {
  Object result;
  EXPECT_EQ(ok, controller().load(request(drive, tag), result))
      << drive << " " << tag << " " << json_spirit::JSON_Dump(result);
  return result;
}

Object Controller_Test::unload(const std::string& drive, bool ok) {
  Object result;
  EXPECT_EQ(ok, controller().unload(request(drive), result))
      << drive << " " << json_spirit::JSON_Dump(result);
  return result;
}

Object request(const std::string& drive_serial, const std::string& media_tag) {
  Object r;
  r["serial_number"] = drive_serial;
  if (!media_tag.empty()) r["media_tag"] = media_tag;
  return r;
}

std::string str(const Object& o, const std::string& key) {
  const std::string* s = json_spirit::object_get_str(o, key);
  return s ? *s : std::string();
}

std::string queue_of(const json_spirit::Array& snapshot, const std::string& library) {
  for (const json_spirit::Value& v : snapshot) {
    const Object& o = v.get_obj();
    if (str(o, "serial_number") != library) continue;
    std::string text = "run";
    for (const char* list : {"running", "queued"}) {
      if (std::string(list) == "queued") text += " | wait";
      for (const json_spirit::Value& e : o.at(list).get_array())
        text += " " + str(e.get_obj(), "kind") + "/" + str(e.get_obj(), "drive");
    }
    return text;
  }
  return "";
}

bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 6000 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

}  // namespace controller_test
