// Load and unload through the emulated library: the round trip, emptying a
// loaded drive first, failure counting, and the inventory kept in step.
#include <gtest/gtest.h>

#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/tools/tools.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Object;

namespace {

class Load_Test : public Controller_Test {
 protected:
  void SetUp() override {
    Controller_Test::SetUp();
    changer_ = make_changer("CHG0001", 10, 2, 5);
    spec_.changers = {changer_};
    write_library(spec_);
  }

  void start(const std::string& config = "") {
    if (!config.empty()) write_config(config);
    ASSERT_TRUE(open_controller());
    rescan_ok("CHG0001");
  }

  void set_faults(const std::vector<Fault_Spec>& faults) {
    spec_.changers[0].faults = faults;
    write_library(spec_);
  }

  Object load(const std::string& drive, const std::string& tag, bool expect_ok) {
    Object result;
    EXPECT_EQ(expect_ok, controller().load(request(drive, tag), result))
        << drive << " " << tag << " " << json_spirit::JSON_Dump(result);
    return result;
  }

  Object unload(const std::string& drive, bool expect_ok) {
    Object result;
    EXPECT_EQ(expect_ok, controller().unload(request(drive), result))
        << drive << " " << json_spirit::JSON_Dump(result);
    return result;
  }

  int stored_slot(const std::string& drive) {
    int s = 0;
    json_spirit::object_get(drive_row(drive), "slot_number", s);
    return s;
  }

  std::string message(const Object& result) {
    const std::string* m = json_spirit::object_get_str(result, "message");
    return m ? *m : std::string();
  }

  bool faulty(const Object& result) {
    bool f = false;
    return json_spirit::object_get(result, "faulty", f) && f;
  }

  Changer_Spec changer_;
  Library_Spec spec_;
};

TEST_F(Load_Test, LoadAndUnloadRoundTrip) {
  start();
  Object result = load("CHG0001-D1", "CHG0003L9", true);
  EXPECT_TRUE(result.empty());
  EXPECT_EQ("drive:1", where_is("CHG0003L9"));
  EXPECT_EQ(3, stored_slot("CHG0001-D1"));
  // The home slot keeps its tag while the cartridge is out.
  EXPECT_EQ("CHG0003L9", *json_spirit::object_get_str(slot_row("CHG0001", 3), "media_tag"));
  expect_consistent();

  result = unload("CHG0001-D1", true);
  EXPECT_TRUE(result.empty());
  EXPECT_EQ("slot:3", where_is("CHG0003L9"));
  EXPECT_TRUE(drive_row("CHG0001-D1")["slot_number"].is_null());
  expect_consistent();
}

TEST_F(Load_Test, LoadIntoALoadedDriveSendsTheOldCartridgeHome) {
  start();
  load("CHG0001-D0", "CHG0001L9", true);
  load("CHG0001-D0", "CHG0004L9", true);
  EXPECT_EQ("slot:1", where_is("CHG0001L9"));
  EXPECT_EQ("drive:0", where_is("CHG0004L9"));
  EXPECT_EQ(4, stored_slot("CHG0001-D0"));
  expect_consistent();
}

TEST_F(Load_Test, CountedFailuresReachFaultyAtTheDefaultThreshold) {
  start();
  set_faults({Fault_Spec{"mount", "CHG0001-D0", 100000, false}});
  Object r1 = load("CHG0001-D0", "CHG0001L9", false);
  EXPECT_EQ("Failed to load media", message(r1));
  EXPECT_FALSE(faulty(r1));
  EXPECT_EQ(1, drive_failures("CHG0001-D0"));
  Object r2 = load("CHG0001-D0", "CHG0001L9", false);
  EXPECT_FALSE(faulty(r2));
  EXPECT_EQ(2, drive_failures("CHG0001-D0"));
  Object r3 = load("CHG0001-D0", "CHG0001L9", false);
  EXPECT_TRUE(faulty(r3));
  EXPECT_EQ(2, drive_failures("CHG0001-D0"));
  EXPECT_EQ("slot:1", where_is("CHG0001L9"));
  expect_consistent();

  // A success resets the count.
  set_faults({});
  load("CHG0001-D0", "CHG0001L9", true);
  EXPECT_EQ(0, drive_failures("CHG0001-D0"));
  expect_consistent();
}

TEST_F(Load_Test, ConfiguredThresholdAndUnloadFailures) {
  start("{\"drive_faulty_threshold\": 2}");
  load("CHG0001-D0", "CHG0002L9", true);
  set_faults({Fault_Spec{"unmount", "CHG0001-D0", 100000, false}});
  Object r1 = unload("CHG0001-D0", false);
  EXPECT_EQ("Failed to unload media", message(r1));
  EXPECT_FALSE(faulty(r1));
  EXPECT_EQ(1, drive_failures("CHG0001-D0"));
  Object r2 = unload("CHG0001-D0", false);
  EXPECT_TRUE(faulty(r2));
  EXPECT_EQ(1, drive_failures("CHG0001-D0"));
  // The drive still records its cartridge, so a later unload retries.
  EXPECT_EQ(2, stored_slot("CHG0001-D0"));
  expect_consistent();

  set_faults({});
  unload("CHG0001-D0", true);
  EXPECT_EQ(0, drive_failures("CHG0001-D0"));
  EXPECT_EQ("slot:2", where_is("CHG0002L9"));
  expect_consistent();
}

TEST_F(Load_Test, FailedUnloadOfTheOldCartridgeStopsTheLoad) {
  start();
  load("CHG0001-D0", "CHG0001L9", true);
  set_faults({Fault_Spec{"unmount", "CHG0001-D0", 100000, true}});
  Object r = load("CHG0001-D0", "CHG0004L9", false);
  // What the nested unload answered ("faulty" among it) stays with it.
  EXPECT_EQ("Failed to prepare devices", message(r));
  EXPECT_EQ(1u, r.size());
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  EXPECT_EQ("slot:4", where_is("CHG0004L9"));
  EXPECT_EQ(1, stored_slot("CHG0001-D0"));
  expect_consistent();
}

TEST_F(Load_Test, UncountedFailureIsFaultyAtOnce) {
  start();
  set_faults({Fault_Spec{"mount", "CHG0001-D1", 100000, true}});
  Object r = load("CHG0001-D1", "CHG0001L9", false);
  EXPECT_EQ("Failed to load media", message(r));
  EXPECT_TRUE(faulty(r));
  EXPECT_EQ(0, drive_failures("CHG0001-D1"));
  expect_consistent();
}

TEST_F(Load_Test, InventoryFailureAfterAGoodMoveSendsTheCartridgeBack) {
  start();
  database::sql::Fault_Plan plan(1, database::sql::Fault_Plan::ONCE);
  plan.match = "UPDATE drive SET slot_number";
  database::sql::Legacy_Manager::instance()->set_fault_plan(plan);
  Object r = load("CHG0001-D0", "CHG0005L9", false);
  database::sql::Legacy_Manager::instance()->clear_fault_plan();
  EXPECT_EQ("Failed to save load info", message(r));
  EXPECT_FALSE(faulty(r));
  EXPECT_EQ("slot:5", where_is("CHG0005L9"));
  EXPECT_EQ(0, stored_slot("CHG0001-D0"));
  expect_consistent();
}

TEST_F(Load_Test, RequestsThatNameNoCartridgeOrDrive) {
  start();
  Log_Capture logs;
  Object no_tag = load("CHG0001-D0", "", false);
  EXPECT_EQ("Failed to find media to load", message(no_tag));

  Object bad_tag;
  Object req = request("CHG0001-D0");
  req["media_tag"] = 42;
  EXPECT_FALSE(controller().load(req, bad_tag));
  EXPECT_EQ("Failed to find media to load", message(bad_tag));

  Object unknown_tag = load("CHG0001-D0", "NOSUCH", false);
  EXPECT_EQ("Failed to find media to load", message(unknown_tag));
  EXPECT_TRUE(logs.contains("Failed to find media with tag NOSUCH"));

  Object no_serial;
  Object req2;
  req2["media_tag"] = "CHG0001L9";
  EXPECT_FALSE(controller().load(req2, no_serial));
  EXPECT_EQ("Failed to prepare devices", message(no_serial));

  Object unknown_drive = load("NO-DRIVE", "CHG0001L9", false);
  EXPECT_EQ("Failed to prepare devices", message(unknown_drive));
  EXPECT_TRUE(logs.contains("Failed to get device with serial_number 'NO-DRIVE'."));

  Object unload_no_serial;
  EXPECT_FALSE(controller().unload(Object(), unload_no_serial));
  EXPECT_TRUE(unload_no_serial.empty());
  EXPECT_TRUE(logs.contains("Unload input exception"));

  for (int s = 1; s <= 5; ++s) EXPECT_EQ("slot:" + std::to_string(s), where_is(changer_.cartridges[s - 1].barcode));
  expect_consistent();
}

TEST_F(Load_Test, UnloadOfADriveTheInventoryShowsEmpty) {
  start();
  Log_Capture logs;
  Object r = unload("CHG0001-D0", true);
  EXPECT_TRUE(r.empty());
  EXPECT_TRUE(logs.contains("but no media loaded"));

  // A tape the inventory does not know about: the unload cannot send it home.
  bool count_failure = false;
  ASSERT_TRUE(d2t::tools::mount(changer_.sg_name, 0, 2, "CHG0002L9", 1, count_failure));
  ASSERT_TRUE(d2t::tools::drive_ready("/dev/st0", 5));
  r = unload("CHG0001-D0", false);
  EXPECT_TRUE(r.empty());
  EXPECT_EQ("drive:0", where_is("CHG0002L9"));
}

TEST_F(Load_Test, UnloadWhoseHomeSlotLostItsTag) {
  start();
  load("CHG0001-D0", "CHG0001L9", true);
  d2t::Media m;
  m.slot_number(1);
  ASSERT_TRUE(controller().impl()->update_slot(changer_id("CHG0001"), m));
  Object r = unload("CHG0001-D0", false);
  EXPECT_EQ("Failed to check media to unload", message(r));
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  EXPECT_EQ(1, stored_slot("CHG0001-D0"));
}

TEST_F(Load_Test, UnloadWhoseHomeSlotHasNoRow) {
  start();
  ASSERT_TRUE(controller().impl()->set_drive_slot(std::string("CHG0001-D0"), static_cast<ACE_INT64>(99)));
  Object r = unload("CHG0001-D0", false);
  EXPECT_EQ("Failed to check media to unload", message(r));
}

TEST_F(Load_Test, ClearedDeviceNamesAreRediscoveredBeforeMoving) {
  start();
  ASSERT_TRUE(controller().impl()->reset());
  load("CHG0001-D1", "CHG0002L9", true);
  EXPECT_EQ("/dev/st1", *json_spirit::object_get_str(drive_row("CHG0001-D1"), "dev_name"));
  ASSERT_TRUE(controller().impl()->reset());
  unload("CHG0001-D1", true);
  EXPECT_EQ("slot:2", where_is("CHG0002L9"));
  expect_consistent();
}

TEST_F(Load_Test, RenamedDevicesAreFollowedBeforeMoving) {
  start();
  spec_.changers[0].sg_name = "/dev/sg177";
  spec_.changers[0].drives[0].dev_name = "/dev/st9";
  write_library(spec_);
  load("CHG0001-D0", "CHG0003L9", true);
  EXPECT_EQ("drive:0", where_is("CHG0003L9"));
  EXPECT_EQ("/dev/st9", *json_spirit::object_get_str(drive_row("CHG0001-D0"), "dev_name"));
  unload("CHG0001-D0", true);
  expect_consistent();
}

}  // namespace
