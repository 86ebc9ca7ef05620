// Injected faults: each failure is reported, with the count_failure flag
// that says whether it counts or makes the drive faulty at once, and no
// cartridge is lost or duplicated.
#include "d2t/tools/tests/emulated_library.h"

namespace d2t {
namespace tools {
namespace {

using Faults = testing::Emulated_Library;
using d2t::emulator::Fault_Op;

TEST_F(Faults, MountFaultIsCountedHardwareFaultIsNot) {
  fault(Fault_Op::MOUNT, false);
  bool count = false;
  EXPECT_FALSE(mount(CHANGER, 0, 1, "A00001L9", 3, count));
  EXPECT_TRUE(count);
  EXPECT_EQ("slot 1", where("A00001L9"));

  fault(Fault_Op::MOUNT, true);
  count = true;
  EXPECT_FALSE(mount(CHANGER, 0, 1, "A00001L9", 3, count));
  EXPECT_FALSE(count);
  EXPECT_EQ("slot 1", where("A00001L9"));

  // The fault was used up: the next mount works.
  EXPECT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count));
  EXPECT_EQ(12u, cartridge_count());
}

TEST_F(Faults, MountFaultOnOtherDriveDoesNotHitThisOne) {
  fault(Fault_Op::MOUNT, true, 1, "EMU-DRV-0002");
  bool count = false;
  EXPECT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count));
  EXPECT_FALSE(mount(CHANGER, 1, 2, "A00002L9", 3, count));
  EXPECT_FALSE(count);
}

TEST_F(Faults, UnmountFaults) {
  bool count = false;
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count));
  fault(Fault_Op::UNMOUNT, false);
  count = false;
  EXPECT_FALSE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 3, count));
  EXPECT_TRUE(count);
  EXPECT_EQ("drive 0", where("A00001L9"));

  fault(Fault_Op::UNMOUNT, true);
  count = true;
  EXPECT_FALSE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 3, count));
  EXPECT_FALSE(count);
  EXPECT_EQ("drive 0", where("A00001L9"));

  EXPECT_TRUE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 3, count));
  EXPECT_EQ("slot 1", where("A00001L9"));
  EXPECT_EQ(12u, cartridge_count());
}

TEST_F(Faults, TransferAndReadyFaults) {
  fault(Fault_Op::TRANSFER, false);
  EXPECT_FALSE(transfer(CHANGER, 1, 11, 3));
  EXPECT_EQ("slot 1", where("A00001L9"));
  EXPECT_TRUE(transfer(CHANGER, 1, 11, 3));

  bool count = false;
  ASSERT_TRUE(mount(CHANGER, 0, 2, "A00002L9", 3, count));
  fault(Fault_Op::READY, false);
  EXPECT_FALSE(drive_ready(DRIVE0_SG, 0));
  EXPECT_TRUE(drive_ready(DRIVE0_SG, 0));
}

TEST_F(Faults, UnloadAllReportsADriveThatStaysLoaded) {
  bool count = false;
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count));
  ASSERT_TRUE(mount(CHANGER, 1, 2, "A00002L9", 3, count));
  fault(Fault_Op::UNMOUNT, true, 100, "EMU-DRV-0001");
  EXPECT_FALSE(unload_all(CHANGER, 3));
  EXPECT_EQ("drive 0", where("A00001L9"));
  EXPECT_EQ("slot 2", where("A00002L9"));  // the other drive still emptied
  EXPECT_EQ(12u, cartridge_count());
}

}  // namespace
}  // namespace tools
}  // namespace d2t
