// Load and unload through the emulated library: refusals, emptying a loaded
// drive first, failure counting, and the inventory kept in step.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/tools/tools.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

using namespace controller_test;
using json_spirit::Object;

namespace {

bool faulty(const Object& result) {
  bool f = false;
  return json_spirit::object_get(result, "faulty", f) && f;
}

class Load_Test : public Controller_Test {
 protected:
  void SetUp() override {
    Controller_Test::SetUp();
    start({0, 0, 0, {make_changer("CHG0001", 10, 2, 5)}});
  }
};

// A load of a cartridge that another drive holds is refused before
// anything moves: no failure counted, not faulty, the drive keeps its own
// cartridge. Into the drive that holds it, the load works; a load of an
// unknown cartridge leaves the drive's cartridge where it is. Two loads of
// one cartridge into two drives at once: the scheduler runs them one after
// the other, so the second is refused the same way, and the first sends its
// drive's cartridge home before it loads.
TEST_F(Load_Test, LoadOfACartridgeInAnotherDriveIsRefused) {
  load("CHG0001-D0", "CHG0001L9", true);
  load("CHG0001-D1", "CHG0002L9", true);
  Log_Capture logs;
  EXPECT_EQ((Object{{"message", "Media is loaded in another drive"}}),
            load("CHG0001-D1", "CHG0001L9", false));
  EXPECT_TRUE(logs.contains("is loaded in drive CHG0001-D0"));
  EXPECT_EQ(0, drive_failures("CHG0001-D1"));
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  EXPECT_EQ("drive:1", where_is("CHG0002L9"));
  EXPECT_TRUE(load("CHG0001-D0", "CHG0001L9", true).empty());
  EXPECT_EQ("Failed to find media to load",
            str(load("CHG0001-D0", "NOPE0001L9", false), "message"));
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  expect_consistent();

  write_library({300, 0, 0, layout_.changers});  // robot time: the loads overlap
  Object r0, r1;
  bool ok1 = false;
  std::thread other([&] { ok1 = controller().load(request("CHG0001-D1", "CHG0003L9"), r1); });
  const bool ok0 = controller().load(request("CHG0001-D0", "CHG0003L9"), r0);
  other.join();
  ASSERT_NE(ok0, ok1);
  EXPECT_EQ("Media is loaded in another drive", str(ok0 ? r1 : r0, "message"));
  EXPECT_EQ(ok0 ? "drive:0" : "drive:1", where_is("CHG0003L9"));
  EXPECT_EQ(ok0 ? "drive:1" : "drive:0", where_is(ok0 ? "CHG0002L9" : "CHG0001L9"));
  EXPECT_EQ(ok0 ? "slot:1" : "slot:2", where_is(ok0 ? "CHG0001L9" : "CHG0002L9"));
  expect_consistent();
}

// Counted failures raise the drive's count; the one that reaches the
// threshold makes the drive faulty and is not stored. A success resets it.
TEST_F(Load_Test, CountedFailuresReachFaultyAtTheThresholdAndSuccessResets) {
  struct Row {
    const char* config;
    int threshold;
    bool unloading;
    const char* tag;
  };
  for (const Row& r : {Row{"", 3, false, "CHG0001L9"},
                       Row{"{\"drive_faulty_threshold\": 2}", 2, true, "CHG0002L9"}}) {
    SCOPED_TRACE(r.threshold);
    if (*r.config) {
      write_config(r.config);
      controller_.reset();
      ASSERT_TRUE(open_controller());
    }
    if (r.unloading) load("CHG0001-D0", r.tag, true);
    set_faults({{r.unloading ? "unmount" : "mount", "CHG0001-D0", 100000, false}});
    for (int n = 1; n <= r.threshold; ++n) {
      Object res = r.unloading ? unload("CHG0001-D0", false) : load("CHG0001-D0", r.tag, false);
      EXPECT_EQ(r.unloading ? "Failed to unload media" : "Failed to load media",
                str(res, "message"));
      EXPECT_EQ(n == r.threshold, faulty(res)) << n;
      EXPECT_EQ(std::min(n, r.threshold - 1), drive_failures("CHG0001-D0")) << n;
    }
    // A drive that kept its cartridge still records it, so a later unload retries.
    EXPECT_EQ(r.unloading ? "drive:0" : "slot:1", where_is(r.tag));
    expect_consistent();

    set_faults({});
    r.unloading ? unload("CHG0001-D0", true) : load("CHG0001-D0", r.tag, true);
    EXPECT_EQ(0, drive_failures("CHG0001-D0"));
    EXPECT_EQ(r.unloading ? "slot:2" : "drive:0", where_is(r.tag));
    expect_consistent();
  }
}

// Failures not counted against the drive make it faulty at once; a failed
// unload of the old cartridge stops a load.
TEST_F(Load_Test, UncountedFailuresAndAFailedUnloadBeforeALoad) {
  load("CHG0001-D0", "CHG0001L9", true);
  set_faults({{"mount", "CHG0001-D1", 100000, true}, {"unmount", "CHG0001-D0", 100000, true}});
  Object r = load("CHG0001-D1", "CHG0002L9", false);
  EXPECT_EQ("Failed to load media", str(r, "message"));
  EXPECT_TRUE(faulty(r));
  EXPECT_EQ(0, drive_failures("CHG0001-D1"));

  r = load("CHG0001-D0", "CHG0004L9", false);
  // What the nested unload answered ("faulty" among it) stays with it.
  EXPECT_EQ((Object{{"message", "Failed to prepare devices"}}), r);
  EXPECT_EQ("drive:0", where_is("CHG0001L9"));
  EXPECT_EQ("slot:4", where_is("CHG0004L9"));
  expect_consistent();
}

TEST_F(Load_Test, InventoryFailureAfterAGoodMoveSendsTheCartridgeBack) {
  database::sql::Fault_Plan plan(1, database::sql::Fault_Plan::ONCE);
  plan.match = "UPDATE drive SET slot_number";
  // `op` with the drive's slot update failing once.
  const auto failing = [&](const std::function<Object()>& op) {
    database::sql::Legacy_Manager::instance()->set_fault_plan(plan);
    const Object r = op();
    database::sql::Legacy_Manager::instance()->clear_fault_plan();
    return r;
  };
  Object r = failing([&] { return load("CHG0001-D0", "CHG0005L9", false); });
  EXPECT_EQ("Failed to save load info", str(r, "message"));
  EXPECT_FALSE(faulty(r));
  EXPECT_EQ("slot:5", where_is("CHG0005L9"));
  EXPECT_EQ(0, stored_slot("CHG0001-D0"));
  expect_consistent();

  // After an unload the message says where the cartridge went.
  load("CHG0001-D0", "CHG0005L9", true);
  r = failing([&] { return unload("CHG0001-D0", false); });
  EXPECT_EQ("Media was moved to slot 5 but the inventory was not updated", str(r, "message"));
  EXPECT_EQ("slot:5", where_is("CHG0005L9"));
  // The stale row is not trusted: the next unload and load of the drive
  // read its element first, and both succeed.
  EXPECT_EQ(5, stored_slot("CHG0001-D0"));
  EXPECT_TRUE(unload("CHG0001-D0", true).empty());
  EXPECT_EQ(0, stored_slot("CHG0001-D0"));
  load("CHG0001-D0", "CHG0005L9", true);
  failing([&] { return unload("CHG0001-D0", false); });
  load("CHG0001-D0", "CHG0004L9", true);
  EXPECT_EQ("drive:0", where_is("CHG0004L9"));
  EXPECT_EQ("slot:5", where_is("CHG0005L9"));
  expect_consistent();

  // A refresh reads the drive's element and clears the mark: the next
  // load trusts the row again.
  failing([&] { return unload("CHG0001-D0", false); });
  EXPECT_EQ(4, stored_slot("CHG0001-D0"));
  Object refreshed;
  ASSERT_TRUE(controller().refresh("CHG0001", refreshed));
  EXPECT_EQ(0, stored_slot("CHG0001-D0"));
  Log_Capture logs;
  load("CHG0001-D0", "CHG0004L9", true);
  EXPECT_FALSE(logs.contains("corrected from the changer"));
  expect_consistent();
}

// The inventory shows the drive empty while it holds a tape the inventory
// does not know: nothing the unload can do.
TEST_F(Load_Test, UnloadOfADriveTheInventoryShowsEmpty) {
  bool count_failure = false;
  ASSERT_TRUE(d2t::tools::mount("/dev/sg100", 0, 2, "CHG0002L9", 1, count_failure));
  ASSERT_TRUE(d2t::tools::drive_ready("/dev/st0", 5));
  EXPECT_TRUE(unload("CHG0001-D0", false).empty());
  EXPECT_EQ("drive:0", where_is("CHG0002L9"));
}

// The home slot's row lost its tag, or there is no such row: the unload is
// refused and the cartridge stays recorded in the drive.
TEST_F(Load_Test, UnloadWithoutATaggedHomeSlotIsRefused) {
  load("CHG0001-D1", "CHG0001L9", true);
  d2t::Media m;
  m.slot_number(1);
  ASSERT_TRUE(controller().impl()->update_slot(changer_id("CHG0001"), m));
  EXPECT_EQ("Failed to check media to unload", str(unload("CHG0001-D1", false), "message"));
  EXPECT_EQ("drive:1", where_is("CHG0001L9"));
  EXPECT_EQ(1, stored_slot("CHG0001-D1"));
  ASSERT_TRUE(controller().impl()->set_drive_slot(std::string("CHG0001-D1"), ACE_INT64(99)));
  EXPECT_EQ("Failed to check media to unload", str(unload("CHG0001-D1", false), "message"));
}

// The library answers that the request was wrong (the cartridge was moved
// behind the inventory's back, so its slot is empty): the load fails, but
// the drive is not blamed, however often it is asked.
TEST_F(Load_Test, AnswersAboutTheRequestAreNotCountedAgainstTheDrive) {
  bool count_failure = false;
  ASSERT_TRUE(d2t::tools::mount(layout_.changers[0].sg_name, 1, 5, "CHG0005L9", 0, count_failure));
  for (int n = 0; n < 4; ++n) {
    const Object r = load("CHG0001-D0", "CHG0005L9", false);
    EXPECT_EQ("Failed to load media", str(r, "message"));
    EXPECT_FALSE(faulty(r)) << n;
    EXPECT_EQ(0, drive_failures("CHG0001-D0")) << n;
  }
  EXPECT_EQ("drive:1", where_is("CHG0005L9"));
}

}  // namespace
