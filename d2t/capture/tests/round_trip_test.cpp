// Round trip: an emulated library captured with d2t_capture through the
// preload library, then replayed. mtx status, the device layer's changer
// status and the list reply are the same for the original and the
// replay: at first, after loads, unloads and transfers made on both, and
// after the controller is restarted on the same inventory. (A capture
// reads no cartridge's medium auxiliary memory, which needs a load, so the
// cartridges here carry none: their capacity comes from their type on
// both sides.)
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>

#include "d2t/controller/tape_controller.h"
#include "d2t/emulator/emulator.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"
#include "database/manager.h"
#include "json_spirit/json_spirit.h"
#include "websvcs/controller/tapectl/drive_load_handler.h"
#include "websvcs/controller/tapectl/drive_unload_handler.h"
#include "websvcs/controller/tapectl/list_handler.h"
#include "websvcs/controller/tapectl/media_transfer_handler.h"
#include "websvcs/controller/tapectl/tests/tapectl_fixture.h"

namespace {

using tapectl_test::run;

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

std::string shell(const std::string& command, int& status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

std::string preload(const std::string& library_file) {
  return "LD_PRELOAD=" + std::string(D2T_BINARY_DIR) + "/lib/libd2t_preload.so D2T_EMULATOR='" +
         library_file + "' ";
}

class Round_Trip_Test : public tapectl_test::Tapectl_Test {
 protected:
  // The three views of the library at one moment.
  std::vector<std::string> views(const std::string& library_file) {
    std::vector<std::string> v;
    JSON_RESTful_List_Handler list;
    const tapectl_test::Reply r =
        run(list, METHOD_GET, "/d2/r/tapectl/list?serial_number=RT-LIB-1");
    EXPECT_EQ(200, r.status) << r.body;
    v.push_back(r.body);
    int status = -1;
    v.push_back(shell(preload(library_file) + "mtx -f /dev/sg60 status 2>&1", status));
    EXPECT_EQ(0, status) << v.back();
    d2t::Changer changer;
    changer.sg_name("/dev/sg60");
    EXPECT_TRUE(d2t::tools::changer_status(changer));
    json_spirit::Array drives, medias;
    for (const d2t::Drive_var& d : changer.drives()) {
      json_spirit::Object o;
      d->to_json(o);
      drives.push_back(o);
    }
    for (const d2t::Media_var& m : changer.medias()) {
      json_spirit::Object o;
      m->to_json(o);
      medias.push_back(o);
    }
    v.push_back(json_spirit::write(drives) + json_spirit::write(medias));
    return v;
  }

  void use(const std::string& library_file) {
    std::string error;
    std::shared_ptr<d2t::scsi::Device_Provider> p = d2t::emulator::make_provider(library_file, &error);
    ASSERT_TRUE(p) << error;
    d2t::tools::set_device_provider(p);
  }

  // Lists, moves cartridges around, restarts the controller: the views
  // after each step.
  std::vector<std::string> session(const std::string& library_file, const std::string& db) {
    std::vector<std::string> all;
    Tape_Controller::close_instance();
    database::sql::Legacy_Manager::instance()->reset_for_testing();
    EXPECT_TRUE(database::sql::Legacy_Manager::instance()->configure("sqlite:" + db));
    use(library_file);
    EXPECT_TRUE(open_controller());
    auto add = [&](const std::vector<std::string>& v) { all.insert(all.end(), v.begin(), v.end()); };
    add(views(library_file));

    Drive_Load_Handler load;
    Drive_Unload_Handler unload;
    JSON_RESTful_Media_Transfer_Handler transfer;
    const char* const LOAD = "/d2/r/tapectl/drive/load";
    EXPECT_EQ(200, run(load, METHOD_POST, LOAD,
                       R"({"serial_number": "RT-DRV-1", "media_tag": "RT0002L9"})").status);
    EXPECT_EQ(200, run(transfer, METHOD_POST, "/d2/r/tapectl/media/transfer",
                       tapectl_test::move_body("RT0003L9", 3, 12, "RT-LIB-1")).status);
    EXPECT_EQ(200, run(load, METHOD_POST, LOAD,
                       R"({"serial_number": "RT-DRV-2", "media_tag": "RT0011L9"})").status);
    EXPECT_EQ(200, run(unload, METHOD_POST, "/d2/r/tapectl/drive/unload",
                       R"({"serial_number": "RT-DRV-1"})").status);
    add(views(library_file));

    // A restart: a new controller and a new device provider (another
    // process would open the library afresh) on the same inventory.
    Tape_Controller::close_instance();
    use(library_file);
    EXPECT_TRUE(open_controller());
    add(views(library_file));
    Tape_Controller::close_instance();
    return all;
  }
};

TEST_F(Round_Trip_Test, ReplayLooksLikeTheOriginalThroughEveryView) {
  const std::string original = dir_ + "/original.json";
  std::ofstream(original) << ORIGINAL;
  int status = -1;
  const std::string capture = dir_ + "/capture.json";
  const std::string out = shell(preload(original) + std::string(D2T_BINARY_DIR) +
                                    "/bin/d2t_capture /dev/sg60 --drives -o '" + capture + "' 2>&1",
                                status);
  ASSERT_EQ(0, status) << out;
  const std::string replay = dir_ + "/replay.json";
  std::ofstream(replay) << R"({"state_file": "replay.state", "changers": [{"capture": "capture.json"}]})";

  const std::vector<std::string> a = session(original, dir_ + "/original.db");
  const std::vector<std::string> b = session(replay, dir_ + "/replay.db");
  ASSERT_EQ(9u, a.size());
  ASSERT_EQ(a.size(), b.size());
  const char* const WHAT[] = {"list reply", "mtx status", "changer status"};
  for (std::size_t i = 0; i < a.size(); ++i)
    EXPECT_EQ(a[i], b[i]) << WHAT[i % 3] << " at step " << i / 3;
  // The moves happened: the transfer's cartridge shows in porter slot 12.
  EXPECT_NE(std::string::npos, a[4].find("RT0003L9")) << a[4];
  EXPECT_NE(a[1], a[4]);
}

}  // namespace
