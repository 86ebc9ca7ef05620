// Rescan: scanning a library through the emulated devices (drive
// identification, cartridge classification, type), storing it and removing
// libraries left without drives.
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/emulator/emulator.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Object;

namespace {

const long long CAPACITY = 2500000LL * 1048576LL;  // whole MiB, as the MAM reports it

// Remembers the names devices are opened by, in order.
class Recording_Provider : public d2t::scsi::Device_Provider {
 public:
  explicit Recording_Provider(std::shared_ptr<d2t::scsi::Device_Provider> inner) : inner_(inner) {}
  bool list(std::vector<d2t::scsi::Device_Entry>& out, std::string* error) override {
    return inner_->list(out, error);
  }
  std::unique_ptr<d2t::scsi::Transport> open(const std::string& name, std::string* error) override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      opened_.push_back(name);
    }
    return inner_->open(name, error);
  }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    opened_.clear();
  }
  std::vector<std::string> opened() {
    std::lock_guard<std::mutex> guard(mutex_);
    return opened_;
  }

 private:
  std::shared_ptr<d2t::scsi::Device_Provider> inner_;
  std::mutex mutex_;
  std::vector<std::string> opened_;
};

class Rescan_Test : public Controller_Test {
 protected:
  d2t::Changer_var rescan(const std::string& serial) {
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

  std::string drive_dev(const std::string& serial) {
    const std::string* s = json_spirit::object_get_str(drive_row(serial), "dev_name");
    return s ? *s : std::string();
  }

  int drive_number(const std::string& serial) {
    int n = -1;
    json_spirit::object_get(drive_row(serial), "drive_number", n);
    return n;
  }
};

TEST_F(Rescan_Test, IdentifiesDrivesListedInAnotherOrder) {
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 12, 3, 6);
  // The host lists devices by sg name: drive 2 first, drive 0 last.
  c.drives[0].sg_name = "/dev/sg230";
  c.drives[1].sg_name = "/dev/sg220";
  c.drives[2].sg_name = "/dev/sg210";
  spec.changers.push_back(c);
  write_library(spec);
  ASSERT_TRUE(open_controller());

  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  ASSERT_EQ(3u, lib->drives().size());
  for (int i = 0; i < 3; ++i) {
    const std::string serial = "CHG0001-D" + std::to_string(i);
    ASSERT_FALSE(lib->drives()[i].null());
    EXPECT_EQ(serial, lib->drives()[i]->serial_number());
    EXPECT_EQ(i, drive_number(serial));
    EXPECT_EQ("/dev/st" + std::to_string(i), drive_dev(serial));
  }
  EXPECT_EQ("virtual", lib->type());
  json_spirit::Object row;
  ASSERT_TRUE(controller().impl()->get_changer("CHG0001", row));
  EXPECT_EQ("virtual", *json_spirit::object_get_str(row, "type"));
  EXPECT_EQ("CHG0006L9", *json_spirit::object_get_str(slot_row("CHG0001", 6), "media_tag"));
  EXPECT_TRUE(slot_row("CHG0001", 7)["media_tag"].is_null());
  expect_consistent();
}

TEST_F(Rescan_Test, TriesDrivesBehindTheChangersTargetFirst) {
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 6, 2, 2);
  c.drives[1].target_name = c.target_name;  // listed second, tried first
  spec.changers.push_back(c);
  write_library(spec);
  ASSERT_TRUE(open_controller());

  std::string error;
  auto recorder = std::make_shared<Recording_Provider>(
      std::shared_ptr<d2t::scsi::Device_Provider>(d2t::emulator::make_provider(library_file(), &error)));
  d2t::tools::set_device_provider(recorder);

  d2t::Changer changer;
  changer.sg_name(c.sg_name);
  changer.target_name(c.target_name);
  ASSERT_TRUE(d2t::tools::changer_status(changer));
  std::vector<d2t::Changer_var> changers;
  std::vector<d2t::Drive_var> drives;
  ASSERT_TRUE(d2t::tools::lsscsi(changers, drives));
  recorder->clear();
  ASSERT_TRUE(controller().detect_drives(changer, drives));

  // After the first move (the changer's device), the first drive asked is
  // the one behind the changer's target.
  std::vector<std::string> opened = recorder->opened();
  std::size_t i = 0;
  while (i < opened.size() && opened[i] != c.sg_name) ++i;
  while (i < opened.size() && opened[i] == c.sg_name) ++i;
  ASSERT_LT(i, opened.size());
  EXPECT_EQ(c.drives[1].sg_name, opened[i]);
  ASSERT_FALSE(changer.drives()[0].null());
  ASSERT_FALSE(changer.drives()[1].null());
  EXPECT_EQ("CHG0001-D0", changer.drives()[0]->serial_number());
  EXPECT_EQ("CHG0001-D1", changer.drives()[1]->serial_number());
}

TEST_F(Rescan_Test, DriveThatNeverBecomesReadyIsDropped) {
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 8, 2, 3);
  c.faults.push_back(Fault_Spec{"ready", "CHG0001-D1", 100000, false});
  spec.changers.push_back(c);
  write_library(spec);
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
  // Each of the three cartridges was watched for 30 s: 10 polls, 9 waits.
  EXPECT_EQ(27, clock->sleeps());
  for (const char* tag : {"CHG0001L9", "CHG0002L9", "CHG0003L9"}) {
    EXPECT_EQ(0u, where_is(tag).find("slot:")) << tag;
  }
  expect_consistent();
}

TEST_F(Rescan_Test, ShortWaitStillPollsOnce) {
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 8, 2, 2);
  c.faults.push_back(Fault_Spec{"ready", "CHG0001-D1", 100000, false});
  spec.changers.push_back(c);
  write_library(spec);
  write_config("{\"max_wait_seconds\": 2}");
  ASSERT_TRUE(open_controller());
  auto clock = std::make_shared<Fake_Controller_Clock>();
  controller().clock(clock);

  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  EXPECT_FALSE(lib->drives()[0].null());
  EXPECT_TRUE(lib->drives()[1].null());
  EXPECT_EQ(0, clock->sleeps());
  expect_consistent();
}

TEST_F(Rescan_Test, CleaningCartridgeIsClassifiedAndSkipped) {
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 8, 2, 0);
  Cartridge_Spec cleaning;
  cleaning.slot = 1;
  cleaning.barcode = "CLN001L1";
  cleaning.cleaning = true;
  c.cartridges.push_back(cleaning);
  for (int s = 2; s <= 4; ++s) {
    Cartridge_Spec t;
    t.slot = s;
    t.barcode = "DAT00" + std::to_string(s) + "L9";
    c.cartridges.push_back(t);
  }
  spec.changers.push_back(c);
  write_library(spec);
  ASSERT_TRUE(open_controller());

  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  EXPECT_FALSE(lib->drives()[0].null());
  EXPECT_FALSE(lib->drives()[1].null());
  EXPECT_EQ(d2t::MST_CLEAN, lib->medias()[0]->state());
  EXPECT_EQ(d2t::MST_UNKNOWN, lib->medias()[1]->state());
  EXPECT_EQ("slot:1", where_is("CLN001L1"));
  EXPECT_EQ("/dev/st0", drive_dev("CHG0001-D0"));
  EXPECT_EQ("/dev/st1", drive_dev("CHG0001-D1"));
  expect_consistent();
}

TEST_F(Rescan_Test, MeasuredCapacityIsSharedWithUnmeasuredCartridges) {
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 8, 2, 4);
  c.cartridges[0].capacity = CAPACITY;
  spec.changers.push_back(c);
  write_library(spec);
  ASSERT_TRUE(open_controller());

  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(d2t::MST_BLANK, lib->medias()[i]->state()) << i;
    EXPECT_EQ(static_cast<ACE_UINT64>(CAPACITY), lib->medias()[i]->capacity()) << i;
  }
  EXPECT_EQ(d2t::MST_EMPTY, lib->medias()[5]->state());
}

TEST_F(Rescan_Test, NoMeasuredCapacityLeavesCartridgesUnknown) {
  Library_Spec spec;
  spec.changers.push_back(make_changer("CHG0001", 8, 1, 2));
  write_library(spec);
  ASSERT_TRUE(open_controller());
  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  EXPECT_EQ(d2t::MST_UNKNOWN, lib->medias()[0]->state());
  EXPECT_EQ(d2t::MST_UNKNOWN, lib->medias()[1]->state());
  EXPECT_EQ(0u, lib->medias()[1]->capacity());
}

TEST_F(Rescan_Test, SlowMovesMakeAPhysicalLibrary) {
  Library_Spec spec;
  spec.move_ms = 2100;  // one load plus one unload: over 4 s
  spec.changers.push_back(make_changer("CHG0001", 4, 1, 1));
  write_library(spec);
  ASSERT_TRUE(open_controller());
  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  EXPECT_EQ("physical", lib->type());
  expect_consistent();
}

TEST_F(Rescan_Test, TypeThresholdIsFourSecondsPerCycle) {
  Library_Spec spec;
  spec.changers.push_back(make_changer("CHG0001", 4, 1, 1));
  write_library(spec);
  ASSERT_TRUE(open_controller());
  // Every reading of the fake clock moves it on by `step`, so a load and
  // an unload each measure exactly `step` ms.
  for (auto step_and_type : {std::make_pair(2000, "virtual"), std::make_pair(2001, "physical")}) {
    controller().clock(std::make_shared<Fake_Controller_Clock>(step_and_type.first));
    d2t::Changer_var lib = rescan("CHG0001");
    ASSERT_FALSE(lib.null());
    EXPECT_EQ(step_and_type.second, lib->type()) << step_and_type.first;
  }
}

TEST_F(Rescan_Test, DriveMovedFromAnotherLibraryLosesItsStaleSlot) {
  Library_Spec spec;
  Changer_Spec a = make_changer("AAA0001", 6, 2, 2, 0);
  Changer_Spec b = make_changer("BBB0001", 6, 1, 2, 10);
  spec.changers = {a, b};
  write_library(spec);
  ASSERT_TRUE(open_controller());
  rescan_ok("AAA0001");
  rescan_ok("BBB0001");
  const ACE_INT64 a_id = changer_id("AAA0001");
  const ACE_INT64 b_id = changer_id("BBB0001");
  // The inventory last saw AAA0001-D1 holding slot 2's cartridge.
  ASSERT_TRUE(controller().impl()->set_drive_slot(std::string("AAA0001-D1"), static_cast<ACE_INT64>(2)));

  // The drive is moved into library B.
  b.drives.push_back(a.drives[1]);
  a.drives.pop_back();
  spec.changers = {a, b};
  write_library(spec);
  d2t::Changer_var lib = rescan("BBB0001");
  ASSERT_FALSE(lib.null());

  Object moved = drive_row("AAA0001-D1");
  std::int64_t owner = 0;
  ASSERT_TRUE(json_spirit::object_get(moved, "changer_id", owner));
  EXPECT_NE(b_id, owner);  // B's rows were written anew
  EXPECT_EQ(changer_id("BBB0001"), owner);
  EXPECT_EQ(1, drive_number("AAA0001-D1"));
  EXPECT_TRUE(moved["slot_number"].is_null());
  EXPECT_EQ(a_id, changer_id("AAA0001"));  // A keeps its other drive
  expect_consistent();
}

TEST_F(Rescan_Test, DriveThatKeepsItsDetectionCartridgeIsStoredFaultyAndLoaded) {
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 6, 2, 3);
  c.faults.push_back(Fault_Spec{"unmount", "CHG0001-D0", 100000, true});
  spec.changers.push_back(c);
  write_library(spec);
  ASSERT_TRUE(open_controller());
  Log_Capture logs;

  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  EXPECT_TRUE(logs.contains("Failed to unmount, sg_name=/dev/sg100, dev_name=/dev/st0, drive_number=0"));
  ASSERT_FALSE(lib->drives()[0].null());
  EXPECT_TRUE(lib->drives()[0]->faulty());
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  // Stored as faulty, and as holding the cartridge of slot 1.
  EXPECT_EQ(3, drive_failures("CHG0001-D0"));
  int slot = 0;
  EXPECT_TRUE(json_spirit::object_get(drive_row("CHG0001-D0"), "slot_number", slot));
  EXPECT_EQ(1, slot);
  EXPECT_EQ("/dev/st1", drive_dev("CHG0001-D1"));
  expect_consistent();
}

TEST_F(Rescan_Test, LibraryWhoseDrivesAllFailIsRemoved) {
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 6, 2, 3);
  spec.changers.push_back(c);
  write_library(spec);
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");
  ASSERT_GE(changer_id("CHG0001"), 0);

  c.faults.push_back(Fault_Spec{"mount", "", 100000, false});
  spec.changers = {c};
  write_library(spec);
  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());  // the entry stays, without drives
  EXPECT_TRUE(lib->drives()[0].null());
  EXPECT_TRUE(lib->drives()[1].null());
  EXPECT_EQ(-1, changer_id("CHG0001"));
  EXPECT_TRUE(drive_row("CHG0001-D0").empty());
  for (const char* tag : {"CHG0001L9", "CHG0002L9", "CHG0003L9"}) {
    EXPECT_EQ(0u, where_is(tag).find("slot:")) << tag;
  }
}

TEST_F(Rescan_Test, FailedChangerInsertLosesTheOldRows) {
  Library_Spec spec;
  spec.changers.push_back(make_changer("CHG0001", 6, 1, 2));
  write_library(spec);
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");
  ASSERT_GE(changer_id("CHG0001"), 0);

  Log_Capture logs;
  database::sql::Fault_Plan plan(1, database::sql::Fault_Plan::FROM_THEN_ON,
                                 database::sql::Fault_Plan::OP_EXECUTE | database::sql::Fault_Plan::OP_QUERY);
  plan.match = "INSERT INTO changer";
  database::sql::Legacy_Manager::instance()->set_fault_plan(plan);
  d2t::Changer_var lib = rescan("CHG0001");
  database::sql::Legacy_Manager::instance()->clear_fault_plan();

  EXPECT_TRUE(lib.null());
  EXPECT_TRUE(logs.contains("Failed to add changer, serial_number: CHG0001."));
  EXPECT_TRUE(logs.contains("Failed to update tape library, changer serial_number: CHG0001."));
  EXPECT_EQ(-1, changer_id("CHG0001"));
  EXPECT_TRUE(drive_row("CHG0001-D0").empty());
  EXPECT_EQ("slot:1", where_is("CHG0001L9"));
  EXPECT_EQ("slot:2", where_is("CHG0002L9"));
}

TEST_F(Rescan_Test, UnknownSerialMovesNothingAndRemovesDrivelessLibraries) {
  Library_Spec spec;
  spec.changers.push_back(make_changer("CHG0001", 6, 1, 2));
  write_library(spec);
  ASSERT_TRUE(open_controller());
  Object orphan;
  orphan["target_name"] = "9:9:9";
  orphan["lun"] = 0;
  orphan["serial_number"] = "ORPHAN";
  ASSERT_GE(controller().impl()->add_changer(orphan), 0);

  std::vector<d2t::Changer_var> changers;
  ASSERT_TRUE(controller().rescan("NO-SUCH-LIBRARY", changers));
  ASSERT_EQ(1u, changers.size());
  EXPECT_TRUE(changers[0].null());
  EXPECT_EQ(-1, changer_id("ORPHAN"));
  EXPECT_EQ(-1, changer_id("CHG0001"));
  EXPECT_EQ("slot:1", where_is("CHG0001L9"));
}

TEST_F(Rescan_Test, StuckDriveFailsTheScanAndKeepsTheInventory) {
  Library_Spec spec;
  Changer_Spec c = make_changer("CHG0001", 6, 1, 2);
  spec.changers.push_back(c);
  write_library(spec);
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");
  // A cartridge sits in the drive and cannot be taken out.
  bool count_failure = false;
  ASSERT_TRUE(d2t::tools::mount(c.sg_name, 0, 1, "CHG0001L9", 1, count_failure));
  c.faults.push_back(Fault_Spec{"unmount", "", 100000, true});
  spec.changers = {c};
  write_library(spec);
  Log_Capture logs;

  std::vector<d2t::Changer_var> changers;
  ASSERT_TRUE(controller().rescan("CHG0001", changers));
  EXPECT_TRUE(changers[0].null());
  EXPECT_TRUE(logs.contains("Failed to unload all drives before rescan"));
  EXPECT_EQ("/dev/st0", drive_dev("CHG0001-D0"));
  EXPECT_EQ("CHG0001L9", *json_spirit::object_get_str(slot_row("CHG0001", 1), "media_tag"));
}

TEST_F(Rescan_Test, ConcurrentRescansLeaveOneConsistentLibrary) {
  Library_Spec spec;
  spec.changers.push_back(make_changer("AAA0001", 10, 2, 5, 0));
  spec.changers.push_back(make_changer("BBB0001", 10, 2, 5, 10));
  write_library(spec);
  ASSERT_TRUE(open_controller());

  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  for (const char* serial : {"AAA0001", "BBB0001", "AAA0001", "BBB0001"}) {
    threads.emplace_back([this, serial, &ok] {
      std::vector<d2t::Changer_var> changers;
      if (controller().rescan(serial, changers)) ++ok;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(4, ok.load());
  for (const char* serial : {"AAA0001", "BBB0001"}) {
    EXPECT_GE(changer_id(serial), 0) << serial;
    for (int d = 0; d < 2; ++d) {
      EXPECT_FALSE(drive_row(std::string(serial) + "-D" + std::to_string(d)).empty()) << serial << d;
    }
  }
  expect_consistent();
}

}  // namespace
