// drive_ready, cleaning_tape and get_media_capacity against the emulated
// library, and the waiting logic of drive_ready on answers scripted in front of it.
#include "d2t/scsi/cdb.h"
#include "d2t/scsi/sense.h"
#include "d2t/tools/tests/quirky_changer.h"

namespace d2t {
namespace tools {
namespace {

using Drive_Questions = testing::Emulated_Library;

TEST_F(Drive_Questions, ReadyOnlyWithACartridgeLoaded) {
  EXPECT_FALSE(drive_ready(DRIVE0_SG, 0));
  EXPECT_FALSE(drive_ready(DRIVE0_NST, 5));  // no medium: no waiting
  EXPECT_EQ(0u, clock_->slept_);
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  // The first answer after a load is a unit attention; it is cleared.
  EXPECT_TRUE(drive_ready(DRIVE0_NST, 0));
  EXPECT_TRUE(drive_ready(DRIVE0_SG, 0));
  EXPECT_TRUE(drive_ready("/dev/st1", 0));
  EXPECT_FALSE(drive_ready(DRIVE1_SG, 0));
  EXPECT_FALSE(drive_ready("/dev/nst9", 0));
  EXPECT_FALSE(drive_ready("", 0));
}

TEST_F(Drive_Questions, CleaningCartridgeDetected) {
  ASSERT_TRUE(mount(CHANGER, 0, 12, "CLN001L1", 3, count_));
  EXPECT_TRUE(cleaning_tape(DRIVE0_SG));
  EXPECT_FALSE(drive_ready(DRIVE0_SG, 0));
  ASSERT_TRUE(mount(CHANGER, 1, 1, "A00001L9", 3, count_));
  EXPECT_FALSE(cleaning_tape(DRIVE1_SG));
  ASSERT_TRUE(unmount(CHANGER, DRIVE0_NST, 0, 12, "CLN001L1", 3, count_));
  EXPECT_FALSE(cleaning_tape(DRIVE0_SG));  // empty drive
}

TEST_F(Drive_Questions, CapacityFromMaximumCapacityAttribute) {
  ACE_UINT64 capacity = 0;
  EXPECT_FALSE(get_media_capacity(DRIVE0_SG, "A00001L9", capacity));
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  ASSERT_TRUE(get_media_capacity(DRIVE0_SG, "A00001L9", capacity));
  EXPECT_EQ(18000000000000ULL / 1048576 * 1048576, capacity);
  capacity = 0;
  EXPECT_FALSE(get_media_capacity(DRIVE0_SG, "A00002L9", capacity));  // other tape
  EXPECT_TRUE(get_media_capacity(DRIVE0_SG, "", capacity));
  // A cartridge whose memory holds no capacity.
  ASSERT_TRUE(mount(CHANGER, 1, 14, "", 3, count_));
  capacity = 42;
  EXPECT_FALSE(get_media_capacity(DRIVE1_SG, "", capacity));
  EXPECT_EQ(42u, capacity);
}

// Drive 0 loaded and ready; its TEST UNIT READY answers come from
// quirks_.ready_answers first.
class Drive_Ready_Wait : public testing::Quirky_Changer {
 protected:
  void SetUp() override {
    Quirky_Changer::SetUp();
    ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
    ASSERT_TRUE(drive_ready(DRIVE0_SG, 0));  // takes the unit attention of the load
    clock_->slept_ = 0;
  }
  void answer(int times, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    for (int i = 0; i < times; ++i)
      quirks_.ready_answers.push_back(testing::check_condition(key, asc, ascq));
  }
};

TEST_F(Drive_Ready_Wait, WaitsWhileBecomingReadyWithinTheLimitOnly) {
  answer(16, 2, 0x04, 0x01);  // an LTO drive threading its tape
  EXPECT_TRUE(drive_ready(DRIVE0_SG, 30));
  EXPECT_GE(clock_->slept_, 16000u);
  EXPECT_LE(clock_->slept_, 30000u);

  clock_->slept_ = 0;
  answer(100, 2, 0x04, 0x01);
  EXPECT_FALSE(drive_ready(DRIVE0_SG, 10));
  EXPECT_GE(clock_->slept_, 10000u);
  EXPECT_LE(clock_->slept_, 11000u);

  quirks_.ready_answers.clear();
  clock_->slept_ = 0;
  answer(1, 2, 0x04, 0x01);
  EXPECT_FALSE(drive_ready(DRIVE0_SG, 0));  // no wait asked: at once
  EXPECT_EQ(0u, clock_->slept_);
}

// A drive without autosense: the sense of a CHECK CONDITION is fetched by
// REQUEST SENSE, so "becoming ready" is still waited for.
TEST_F(Drive_Ready_Wait, SenseFetchedWhenNotDelivered) {
  d2t::scsi::Outcome bare;
  bare.status = d2t::scsi::STATUS_CHECK_CONDITION;
  quirks_.ready_answers.push_back(bare);
  quirks_.request_sense = d2t::scsi::build_fixed_sense(2, 0x04, 0x01);
  EXPECT_TRUE(drive_ready(DRIVE0_SG, 30));
  EXPECT_EQ(1000u, clock_->slept_);

  // The same without wait: medium not present is no reason to wait.
  quirks_.ready_answers.push_back(bare);
  quirks_.request_sense = d2t::scsi::build_fixed_sense(2, 0x3A, 0x00);
  EXPECT_FALSE(drive_ready(DRIVE0_SG, 30));
  EXPECT_EQ(1000u, clock_->slept_);
}

TEST_F(Drive_Ready_Wait, UnitAttentionsAreClearedNotWaitedFor) {
  answer(1, 6, 0x28, 0);
  answer(1, 6, 0x29, 0);
  EXPECT_TRUE(drive_ready(DRIVE0_SG, 0));
  // Ejected but still in the drive: never ready by waiting.
  answer(1, 2, 0x04, 0x02);
  EXPECT_FALSE(drive_ready(DRIVE0_SG, 60));
  EXPECT_EQ(0u, clock_->slept_);
}

}  // namespace
}  // namespace tools
}  // namespace d2t
