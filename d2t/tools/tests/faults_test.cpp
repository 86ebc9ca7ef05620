// Injected faults: each failure is reported, with the count_failure flag
// that says whether it counts or makes the drive faulty at once, and no
// cartridge is lost or duplicated.
#include "d2t/tools/tests/emulated_library.h"

namespace d2t {
namespace tools {
namespace {

using Faults = testing::Emulated_Library;
using d2t::emulator::Fault_Op;

// A plain fault is counted, a hardware fault is not; each is used up by
// one attempt, after which the move works.
TEST_F(Faults, MountAndUnmountFaultsCarryTheRightCount) {
  for (bool hardware : {false, true}) {
    SCOPED_TRACE(hardware);
    fault(Fault_Op::MOUNT, hardware);
    count_ = hardware;
    EXPECT_FALSE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
    EXPECT_EQ(!hardware, count_);
    EXPECT_EQ("slot 1", where("A00001L9"));
  }
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  for (bool hardware : {false, true}) {
    SCOPED_TRACE(hardware);
    fault(Fault_Op::UNMOUNT, hardware);
    count_ = hardware;
    EXPECT_FALSE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 3, count_));
    EXPECT_EQ(!hardware, count_);
    EXPECT_EQ("drive 0", where("A00001L9"));
  }
  EXPECT_TRUE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 3, count_));
  EXPECT_EQ("slot 1", where("A00001L9"));
  EXPECT_EQ(12u, cartridge_count());
}

TEST_F(Faults, OtherDriveTransferAndReadyFaults) {
  fault(Fault_Op::MOUNT, true, 1, "EMU-DRV-0002");  // hits drive 1 only
  EXPECT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  EXPECT_FALSE(mount(CHANGER, 1, 2, "A00002L9", 3, count_));
  EXPECT_FALSE(count_);
  ASSERT_TRUE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 3, count_));

  fault(Fault_Op::TRANSFER, false);
  EXPECT_FALSE(transfer(CHANGER, 1, 11, 3));
  EXPECT_EQ("slot 1", where("A00001L9"));
  EXPECT_TRUE(transfer(CHANGER, 1, 11, 3));

  ASSERT_TRUE(mount(CHANGER, 0, 2, "A00002L9", 3, count_));
  fault(Fault_Op::READY, false);
  EXPECT_FALSE(drive_ready(DRIVE0_SG, 0));
  EXPECT_TRUE(drive_ready(DRIVE0_SG, 0));
}

TEST_F(Faults, UnloadAllReportsADriveThatStaysLoaded) {
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  ASSERT_TRUE(mount(CHANGER, 1, 2, "A00002L9", 3, count_));
  fault(Fault_Op::UNMOUNT, true, 100, "EMU-DRV-0001");
  EXPECT_FALSE(unload_all(CHANGER, 3));
  EXPECT_EQ("drive 0", where("A00001L9"));
  EXPECT_EQ("slot 2", where("A00002L9"));  // the other drive still emptied
  EXPECT_EQ(12u, cartridge_count());
}

}  // namespace
}  // namespace tools
}  // namespace d2t
