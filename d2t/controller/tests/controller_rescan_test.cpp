// Rescan: scanning a library through the emulated devices (drive
// identification, cartridge classification, type), storing it and removing
// libraries left without drives.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>

#include "d2t/controller/controller_sql.h"
#include "d2t/controller/drive_identification.h"
#include "d2t/controller/tape_controller_database_impl.h"
#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/emulator/emulator.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"
#include "testing/wrapping_provider.h"

using namespace controller_test;
using json_spirit::Object;
using json_spirit::Value;

namespace {

const long long CAPACITY = 2500000LL * 1048576LL;  // whole MiB, as the MAM reports it

// Remembers the names devices are opened by, in order.
class Recording_Provider : public test_support::Wrapping_Provider {
 public:
  explicit Recording_Provider(std::shared_ptr<d2t::scsi::Device_Provider> inner)
      : Wrapping_Provider(inner, [](std::unique_ptr<d2t::scsi::Transport> t) { return t; }) {}
  std::unique_ptr<d2t::scsi::Transport> open(const std::string& name, std::string* error) override {
    std::lock_guard<std::mutex> guard(mutex_);
    opened_.push_back(name);
    return Wrapping_Provider::open(name, error);
  }
  std::vector<std::string> opened() {
    std::lock_guard<std::mutex> guard(mutex_);
    return opened_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> opened_;
};

class Rescan_Test : public Controller_Test {
 protected:
  void open_on(const std::vector<Changer_Layout>& changers) {
    write_library({0, 0, 0, changers});
    ASSERT_TRUE(open_controller());
  }

  std::string drive_dev(const std::string& serial) { return str(drive_row(serial), "dev_name"); }

  void expect_in_slots(const std::vector<std::string>& tags) {
    for (const std::string& tag : tags) EXPECT_EQ(0u, where_is(tag).find("slot:")) << tag;
  }
};

TEST_F(Rescan_Test, TriesDrivesBehindTheChangersTargetFirst) {
  Changer_Layout c = make_changer("CHG0001", 6, 2, 2);
  c.drives[1].target_name = c.target_name;  // listed second, tried first
  open_on({c});
  d2t::Changer changer;
  changer.sg_name(c.sg_name);
  changer.target_name(c.target_name);
  ASSERT_TRUE(d2t::tools::changer_status(changer));
  std::vector<d2t::Changer_var> changers;
  std::vector<d2t::Drive_var> drives;
  ASSERT_TRUE(d2t::tools::lsscsi(changers, drives));

  std::string error;
  auto recorder = std::make_shared<Recording_Provider>(std::shared_ptr<d2t::scsi::Device_Provider>(
      d2t::emulator::make_provider(library_file(), &error)));
  d2t::tools::set_device_provider(recorder);
  ASSERT_TRUE(controller().detect_drives(changer, drives));
  // After the first move (the changer's device, opened after the drives
  // were read and asked whether they are ready), the first drive asked is
  // the one behind the changer's target.
  std::vector<std::string> opened = recorder->opened();
  std::size_t i = 0;
  while (i < opened.size() && opened[i] == c.sg_name) ++i;
  while (i < opened.size() && opened[i] != c.sg_name) ++i;
  while (i < opened.size() && opened[i] == c.sg_name) ++i;
  ASSERT_LT(i, opened.size());
  EXPECT_EQ(c.drives[1].sg_name, opened[i]);
  ASSERT_FALSE(changer.drives()[0].null());
  ASSERT_FALSE(changer.drives()[1].null());
  EXPECT_EQ("CHG0001-D0", changer.drives()[0]->serial_number());
  EXPECT_EQ("CHG0001-D1", changer.drives()[1]->serial_number());
}

// Each cartridge is watched for max_wait_seconds, polled every 3 s (a wait
// shorter than that still polls once); a drive never ready is dropped.
TEST_F(Rescan_Test, DriveThatNeverBecomesReadyIsDropped) {
  Changer_Layout c = make_changer("CHG0001", 8, 2, 3);
  c.faults.push_back({"ready", "CHG0001-D1", 100000, false});
  for (const auto& row : {std::make_pair("", 27), std::make_pair("{\"max_wait_seconds\": 2}", 0)}) {
    SCOPED_TRACE(row.first);
    write_library({0, 0, 0, {c}});
    write_config(row.first);
    controller_.reset();
    ASSERT_TRUE(open_controller());
    auto clock = std::make_shared<Fake_Controller_Clock>();
    controller().clock(clock);
    Log_Capture logs;

    d2t::Changer_var lib = rescan("CHG0001");
    ASSERT_FALSE(lib.null());
    EXPECT_FALSE(lib->drives()[0].null());
    EXPECT_TRUE(lib->drives()[1].null());
    EXPECT_TRUE(logs.contains("Failed to detect 1 of /dev/sg100"));
    EXPECT_EQ("/dev/st0", drive_dev("CHG0001-D0"));
    EXPECT_TRUE(drive_row("CHG0001-D1").empty());
    EXPECT_EQ(row.second, clock->sleeps());
    expect_in_slots({"CHG0001L9", "CHG0002L9", "CHG0003L9"});
    expect_consistent();
  }
}

TEST_F(Rescan_Test, CleaningCartridgeIsClassifiedAndSkipped) {
  Changer_Layout c = make_changer("CHG0001", 8, 2, 0);
  c.cartridges = {
      {1, -1, "CLN001L1", 0, true}, {2, -1, "DAT002L9"}, {3, -1, "DAT003L9"}, {4, -1, "DAT004L9"}};
  open_on({c});

  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  EXPECT_EQ(d2t::MST_CLEAN, lib->medias()[0]->state());
  EXPECT_EQ("slot:1", where_is("CLN001L1"));
  EXPECT_EQ("/dev/st0", drive_dev("CHG0001-D0"));
  EXPECT_EQ("/dev/st1", drive_dev("CHG0001-D1"));
  expect_consistent();
  // Nothing measured (no capacity in the cartridge memory): the native
  // capacity of the media type, recorded as a guess. A scan that needs a
  // cycle anyway (here: the library's type is unknown) measures a guessed
  // cartridge, and the measurement replaces the guesses.
  std::map<std::string, std::uint64_t> known;
  std::set<std::string> guessed;
  ASSERT_TRUE(d2t::identify::recorded_capacities("CHG0001", known, guessed));
  EXPECT_EQ(18000000000000ULL, known["DAT002L9"]);
  EXPECT_EQ((std::set<std::string>{"DAT002L9", "DAT003L9", "DAT004L9"}), guessed);
  c.cartridges[1].capacity = CAPACITY;
  c.cartridges[2].capacity = CAPACITY;
  write_library({0, 0, 0, {c}});
  std::remove(dir_.file("library.state").c_str());  // the emulator starts over
  controller_.reset();
  ASSERT_TRUE(open_controller());
  {
    database::sql::Connection_var db =
        database::sql::Legacy_Manager::instance()->get_connection_r("media_controller");
    ASSERT_TRUE(db);
    database::sql::Update_SQL u("changer");
    u.set("type", std::string(), nullptr).where("serial_number=:serial").bind(":serial", "CHG0001");
    ASSERT_TRUE(db->execute(u));
  }
  lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  ASSERT_TRUE(d2t::identify::recorded_capacities("CHG0001", known, guessed));
  EXPECT_EQ(static_cast<std::uint64_t>(CAPACITY), known["DAT002L9"]);
  EXPECT_EQ(static_cast<std::uint64_t>(CAPACITY), known["DAT004L9"]);
  EXPECT_TRUE(guessed.empty());
}

// Over 4 s for one load plus one unload is a physical library: measured on
// the system clock (emulated moves of 2.1 s), and on a fake clock whose
// every reading moves it on by `step`, so each move measures `step` ms.
TEST_F(Rescan_Test, LibraryTypeFollowsTheTimeOfALoadAndUnload) {
  struct Row {
    long long move_ms;
    ACE_UINT64 step;
    const char* type;
  };
  open_on({make_changer("CHG0001", 4, 1, 1)});
  for (const Row& r :
       {Row{2100, 0, "physical"}, Row{0, 2000, "virtual"}, Row{0, 2001, "physical"}}) {
    SCOPED_TRACE(r.step);
    write_library({r.move_ms, 0, 0, layout_.changers});
    if (r.step) controller().clock(std::make_shared<Fake_Controller_Clock>(r.step));
    d2t::Changer_var lib = rescan("CHG0001");
    ASSERT_FALSE(lib.null());
    EXPECT_EQ(r.type, lib->type());
  }
  Object row;  // the measured type is stored
  ASSERT_TRUE(controller().impl()->get_changer("CHG0001", row));
  EXPECT_EQ("physical", str(row, "type"));
  expect_consistent();
}

TEST_F(Rescan_Test, DriveMovedFromAnotherLibraryLosesItsStaleSlot) {
  Changer_Layout a = make_changer("AAA0001", 6, 2, 2), b = make_changer("BBB0001", 6, 1, 2, 10);
  start({0, 0, 0, {a, b}});
  const ACE_INT64 a_id = changer_id("AAA0001");
  const ACE_INT64 b_id = changer_id("BBB0001");
  // The inventory last saw AAA0001-D1 holding slot 2's cartridge.
  ASSERT_TRUE(controller().impl()->set_drive_slot(std::string("AAA0001-D1"), ACE_INT64(2)));

  b.drives.push_back(a.drives[1]);  // the drive is moved into library B
  a.drives.pop_back();
  // B names its drives: a drive stored under another library is never a
  // candidate of identification by loading, only identifiers move it.
  b.dvcid = "t10";
  write_library({0, 0, 0, {a, b}});
  ASSERT_FALSE(rescan("BBB0001").null());
  // B's row stays (other hosts' drive rows may refer to it); its drive
  // rows were written anew.
  const Object moved = drive_row("AAA0001-D1");
  EXPECT_EQ(b_id, changer_id("BBB0001"));
  EXPECT_EQ(
      std::make_tuple(Value(b_id), Value(1), Value()),
      std::make_tuple(moved.at("changer_id"), moved.at("drive_number"), moved.at("slot_number")));
  EXPECT_EQ(a_id, changer_id("AAA0001"));  // A keeps its other drive
  expect_consistent();
}

TEST_F(Rescan_Test, LibraryWhoseDrivesAllFailIsRemoved) {
  start({0, 0, 0, {make_changer("CHG0001", 6, 2, 3)}});
  ASSERT_GE(changer_id("CHG0001"), 0);
  set_faults({{"mount", "", 100000, false}});
  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());  // the entry stays, without drives
  EXPECT_TRUE(lib->drives()[0].null());
  EXPECT_TRUE(lib->drives()[1].null());
  EXPECT_EQ(-1, changer_id("CHG0001"));
  EXPECT_TRUE(drive_row("CHG0001-D0").empty());
  expect_in_slots({"CHG0001L9", "CHG0002L9", "CHG0003L9"});
}

}  // namespace

// Several hosts share the library and the inventory: this host's rescan,
// name updates and failure counts touch only its own drive rows, and a
// cartridge held by the other host's drive is refused with that host named.
TEST_F(Rescan_Test, ASharedLibraryKeepsTheOtherHostsDrives) {
  controller().host_id("host-a");
  start({0, 0, 0, {make_changer("CHG0001", 8, 2, 4)}});
  const ACE_INT64 id = changer_id("CHG0001");
  // The row another host keeps for its own drive at element 5, with the
  // same device names as this host's drive 1 and slot 3's cartridge loaded.
  Object row;
  json_spirit::insert(row)("changer_id", Value(static_cast<std::int64_t>(id)))(
      "target_name", "9:0:5")("lun", Value(0))("drive_number", Value(5))("sg_name", "/dev/sg201")(
      "dev_name", "/dev/st1")("serial_number", "B-DRIVE")("slot_number", Value(3))("failures",
                                                                                   Value(0));
  ASSERT_GT(Tape_Controller_Database_Impl("host-b").add_drive(row), 0);

  rescan_ok("CHG0001");
  ASSERT_TRUE(controller().rediscover_names());
  ASSERT_TRUE(controller().impl()->update_drive_failure("/dev/st1", 2));
  EXPECT_EQ(id, changer_id("CHG0001"));
  const Object other = drive_row("B-DRIVE");
  EXPECT_EQ("host-b", str(other, "host_id"));
  EXPECT_EQ("/dev/st1", str(other, "dev_name"));
  EXPECT_EQ(0, drive_failures("B-DRIVE"));
  EXPECT_EQ(3, stored_slot("B-DRIVE"));
  EXPECT_EQ(2, drive_failures("CHG0001-D1"));
  EXPECT_EQ("host-a", str(drive_row("CHG0001-D0"), "host_id"));
  // The home of the other host's cartridge keeps its tag.
  EXPECT_EQ("CHG0003L9", str(slot_row("CHG0001", 3), "media_tag"));

  // A cartridge in the other host's drive is refused naming that host (the
  // multi-host system test leaves this check here).
  Log_Capture logs;
  EXPECT_EQ("Media is loaded in another drive",
            str(load("CHG0001-D0", "CHG0003L9", false), "message"));
  EXPECT_TRUE(logs.contains("loaded in drive B-DRIVE of host host-b"));
  // The other host's drive is never moved from here, whatever its names.
  EXPECT_EQ("Failed to prepare devices", str(load("B-DRIVE", "CHG0001L9", false), "message"));
  EXPECT_TRUE(logs.contains("Drive B-DRIVE is attached to host host-b, not to this host"));
  EXPECT_EQ("slot:1", where_is("CHG0001L9"));

  // The library goes only when no host has a drive left in it.
  Controller_Sql sql;
  Object mine;
  for (const char* serial : {"CHG0001-D0", "CHG0001-D1"}) {
    std::int64_t row_id = 0;
    ASSERT_TRUE(json_spirit::object_get(drive_row(serial), "id", row_id));
    ASSERT_TRUE(sql.delete_drive(row_id));
  }
  controller().remove_unavailable("CHG0001");
  EXPECT_EQ(id, changer_id("CHG0001"));
}
