// Round trip: an emulated library captured with d2t_capture through the
// preload library, then replayed. mtx status, the device layer's changer
// status and the daemon's list reply are the same for the original and
// the replay: at first, after loads, unloads and transfers made on both
// over HTTP, and after both daemons restart. (A capture reads no
// cartridge's medium auxiliary memory, which needs a load, so the
// cartridges here carry none: their capacity comes from their type on
// both sides.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "d2t/emulator/emulator.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"
#include "json_spirit/json_spirit.h"
#include "tests/system/system_support.h"

namespace {

const char ORIGINAL[] = R"({"state_file": "library.state", "changers": [{
  "serial_number": "RT-LIB-1", "vendor": "RTVEND", "model": "ROUND TRIP", "target_name": "9:0:0",
  "sg_name": "/dev/sg60", "storage_slots": 10, "porter_slots": 2, "dvcid": "t10",
  "drives": [
    {"serial_number": "RT-DRV-1", "vendor": "RTVEND", "model": "LTO-9", "target_name": "9:0:1",
     "sg_name": "/dev/sg61", "dev_name": "/dev/st8"},
    {"serial_number": "RT-DRV-2", "vendor": "RTVEND", "model": "LTO-9", "target_name": "9:0:2",
     "sg_name": "/dev/sg62", "dev_name": "/dev/st9"}],
  "cartridges": [
    {"slot": 1, "barcode": "RT0001L9"}, {"slot": 2, "barcode": "RT0002L9"},
    {"slot": 3, "barcode": "RT0003L9"}, {"slot": 5, "barcode": "CLN005L1", "cleaning": true},
    {"slot": 6, "barcode": ""}, {"slot": 11, "barcode": "RT0011L9"}]}]})";

class Round_Trip_Test : public Temp_Dir {
 protected:
  // The three views of the library behind `daemon` at one moment.
  std::vector<std::string> views(const system_test::Demo_Daemon& daemon) {
    const std::string library_file = daemon.dir() + "/library.json";
    std::vector<std::string> v;
    const Http_Reply r = daemon.get("/d2/r/tapectl/list?serial_number=RT-LIB-1");
    EXPECT_EQ(200, r.status) << r.body;
    v.push_back(r.body);
    int status = -1;
    v.push_back(system_test::run_command(
        system_test::preload_env(library_file) + "mtx -f /dev/sg60 status 2>&1", status));
    EXPECT_EQ(0, status) << v.back();
    std::string error;
    std::shared_ptr<d2t::scsi::Device_Provider> p =
        d2t::emulator::make_provider(library_file, &error);
    EXPECT_TRUE(p) << error;
    d2t::tools::set_device_provider(p);
    d2t::Changer changer;
    changer.sg_name("/dev/sg60");
    EXPECT_TRUE(d2t::tools::changer_status(changer));
    d2t::tools::set_device_provider(nullptr);
    json_spirit::Array records;  // the drives', then the cartridges'
    auto add = [&records](const auto& record) {
      json_spirit::Object o;
      record->to_json(o);
      records.push_back(o);
    };
    for (const d2t::Drive_var& d : changer.drives()) add(d);
    for (const d2t::Media_var& m : changer.medias()) add(m);
    v.push_back(json_spirit::write(records));
    return v;
  }
};

TEST_F(Round_Trip_Test, ReplayLooksLikeTheOriginalThroughEveryView) {
  const std::string original_dir = dir_ + "/original", replay_dir = dir_ + "/replay";
  ASSERT_EQ(0, ::mkdir(original_dir.c_str(), 0755));
  ASSERT_EQ(0, ::mkdir(replay_dir.c_str(), 0755));
  std::ofstream(original_dir + "/library.json") << ORIGINAL;
  int status = -1;
  const std::string out = system_test::run_command(
      system_test::preload_env(original_dir + "/library.json") + std::string(D2T_BINARY_DIR) +
          "/bin/d2t_capture /dev/sg60 --drives -o '" + replay_dir + "/capture.json' 2>&1",
      status);
  ASSERT_EQ(0, status) << out;
  std::ofstream(replay_dir + "/library.json") << R"({"changers": [{"capture": "capture.json"}]})";

  system_test::Demo_Daemon a(original_dir), b(replay_dir);
  std::string error;
  ASSERT_TRUE(a.start(error)) << error;
  ASSERT_TRUE(b.start(error)) << error;
  const char* const WHAT[] = {"list reply", "mtx status", "changer status"};
  auto expect_same = [&](const char* when) {
    const std::vector<std::string> x = views(a), y = views(b);
    for (std::size_t i = 0; i < x.size(); ++i) EXPECT_EQ(x[i], y[i]) << WHAT[i] << " " << when;
    return x;
  };
  const std::vector<std::string> first = expect_same("at first");

  const std::pair<std::string, std::string> moves[] = {
      {"/d2/r/tapectl/drive/load", system_test::drive_body("RT-DRV-1", "RT0002L9")},
      {"/d2/r/tapectl/media/transfer", system_test::transfer_body("RT-LIB-1", "RT0003L9", 3, 12)},
      {"/d2/r/tapectl/drive/load", system_test::drive_body("RT-DRV-2", "RT0011L9")},
      {"/d2/r/tapectl/drive/unload", system_test::drive_body("RT-DRV-1")}};
  for (system_test::Demo_Daemon* d : {&a, &b}) {
    for (const auto& m : moves) EXPECT_EQ(200, d->post(m.first, m.second).status) << m.second;
  }
  const std::vector<std::string> moved = expect_same("after moves");
  EXPECT_NE(first[1], moved[1]);  // the moves happened
  EXPECT_NE(std::string::npos, moved[1].find("RT0011L9")) << moved[1];

  EXPECT_EQ(0, a.stop());
  EXPECT_EQ(0, b.stop());
  ASSERT_TRUE(a.start(error)) << error;
  ASSERT_TRUE(b.start(error)) << error;
  const std::vector<std::string> restarted = expect_same("after a restart");
  EXPECT_EQ(moved[1], restarted[1]);
}

}  // namespace
