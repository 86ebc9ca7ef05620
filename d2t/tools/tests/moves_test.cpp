// mount, unmount, transfer and unload_all against the emulated library:
// each move checked against where the emulator says the cartridges are.
#include <atomic>

#include "d2t/tools/tests/emulated_library.h"

namespace d2t {
namespace tools {
namespace {

using Moves = testing::Emulated_Library;

TEST_F(Moves, MountAndUnmountMoveTheCartridge) {
  ASSERT_TRUE(mount(CHANGER, 0, 2, "A00002L9", 3, count_));
  EXPECT_EQ("drive 0", where("A00002L9"));
  // Unmounted through the drive's generic device (the other tests use its
  // non-rewinding tape device), to another slot than its home.
  ASSERT_TRUE(unmount(CHANGER, DRIVE0_SG, 0, 11, "A00002L9", 3, count_));
  EXPECT_EQ("slot 11", where("A00002L9"));
  EXPECT_EQ(12u, cartridge_count());
}

TEST_F(Moves, UnmountRefusesEmptyDriveAndFullSlot) {
  EXPECT_FALSE(unmount(CHANGER, DRIVE0_NST, 0, 11, "", 3, count_));
  EXPECT_TRUE(count_);
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  count_ = false;
  EXPECT_FALSE(unmount(CHANGER, DRIVE0_NST, 0, 2, "A00001L9", 3, count_));
  EXPECT_TRUE(count_);
  EXPECT_EQ("drive 0", where("A00001L9"));
  // A stale drive name: the changer still takes the cartridge out.
  ASSERT_TRUE(unmount(CHANGER, "/dev/nst9", 0, 1, "A00001L9", 3, count_));
  EXPECT_EQ("slot 1", where("A00001L9"));
}

TEST_F(Moves, UnmountNeverEjectsAnotherDrivesTape) {
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  ASSERT_TRUE(mount(CHANGER, 1, 2, "A00002L9", 3, count_));
  ASSERT_TRUE(drive_ready(DRIVE1_SG, 0));
  // Drive 0 named by drive 1's device (a name that moved after a reboot).
  ASSERT_TRUE(unmount(CHANGER, DRIVE1_SG, 0, 1, "A00001L9", 3, count_));
  EXPECT_EQ("slot 1", where("A00001L9"));
  EXPECT_EQ("drive 1", where("A00002L9"));
  EXPECT_TRUE(drive_ready(DRIVE1_SG, 0));  // still threaded
}

// The changer's identifier carries the drive's serial behind a prefix:
// the unload still ejects through the drive's own device.
TEST_F(Moves, PrefixedIdentifierStillEjectsThroughItsDrive) {
  start(testing::library_text("serial", R"("element_identifier": "VND-EMU-DRV-0001")"));
  auto ejects = std::make_shared<std::atomic<int>>(0);
  wrap(test_support::watch_commands([ejects](const d2t::scsi::Command& cmd) {
    if (cmd.cdb_len > 0 && cmd.cdb[0] == 0x1B) ++*ejects;
  }));
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  ASSERT_TRUE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 3, count_));
  EXPECT_EQ(1, ejects->load());
  EXPECT_EQ("slot 1", where("A00001L9"));
  // unload_all finds the drive through the same rule.
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  ASSERT_TRUE(unload_all(CHANGER, 3));
  EXPECT_EQ(2, ejects->load());
  EXPECT_EQ("slot 1", where("A00001L9"));
}

// A library shared with another host: its drive is left loaded.
TEST_F(Moves, UnloadAllLeavesAnotherHostsDriveAlone) {
  std::string text = testing::LIBRARY_JSON;
  text.replace(text.find(R"("sg_name": "/dev/sg11", "dev_name": "/dev/st0")"), 46,
               R"("attached": false)");
  start(text);
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  ASSERT_TRUE(mount(CHANGER, 1, 2, "A00002L9", 3, count_));
  ASSERT_TRUE(unload_all(CHANGER, 3));
  EXPECT_EQ("slot 1", where("A00001L9"));
  EXPECT_EQ("drive 1", where("A00002L9"));
}

TEST_F(Moves, TransferBetweenSlotsAndPorters) {
  ASSERT_TRUE(transfer(CHANGER, 2, 11, 3));
  EXPECT_EQ("slot 11", where("A00002L9"));
  ASSERT_TRUE(transfer(CHANGER, 11, 25, 3));  // into the first porter
  EXPECT_EQ("slot 25", where("A00002L9"));
  EXPECT_FALSE(transfer(CHANGER, 2, 13, 3));  // source empty
  EXPECT_FALSE(transfer(CHANGER, 1, 3, 3));   // destination full
  EXPECT_FALSE(transfer(CHANGER, 1, 99, 3));  // no such slot
  EXPECT_EQ("slot 1", where("A00001L9"));
  EXPECT_EQ(12u, cartridge_count());
}

TEST_F(Moves, UnloadAllSendsHomeOrToFirstEmptySlot) {
  ASSERT_TRUE(mount(CHANGER, 0, 3, "A00003L9", 3, count_));
  ASSERT_TRUE(mount(CHANGER, 1, 5, "A00005L9", 3, count_));
  // Drive 0's home slot is taken meanwhile.
  ASSERT_TRUE(transfer(CHANGER, 4, 3, 3));
  ASSERT_TRUE(unload_all(CHANGER, 3));
  EXPECT_EQ("slot 4", where("A00003L9"));  // first empty storage slot
  EXPECT_EQ("slot 5", where("A00005L9"));  // home
  EXPECT_EQ(12u, cartridge_count());

  EXPECT_NE(std::string::npos, status_text().find(" d0|EMU-DRV-0001|@0 d1|EMU-DRV-0002|@0 "));
  // Nothing loaded: nothing to do.
  EXPECT_TRUE(unload_all(CHANGER, 3));
  EXPECT_FALSE(unload_all("/dev/sg99", 3));
}

TEST_F(Moves, UnloadAllReportsADriveThatStaysLoaded) {
  std::string text = testing::LIBRARY_JSON;
  text.replace(text.find(R"("faults": [])"), 13,
               R"("faults": [{"op": "unmount", "times": 100, "drive": "EMU-DRV-0001"}])");
  start(text);
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  ASSERT_TRUE(mount(CHANGER, 1, 2, "A00002L9", 3, count_));
  EXPECT_FALSE(unload_all(CHANGER, 3));
  EXPECT_EQ("drive 0", where("A00001L9"));
  EXPECT_EQ("slot 2", where("A00002L9"));  // the other drive still emptied
  EXPECT_EQ(12u, cartridge_count());
}

}  // namespace
}  // namespace tools
}  // namespace d2t
