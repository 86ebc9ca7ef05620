// Changers that behave differently from the emulated one: short element
// status buffers, no device identifiers, no volume tags, busy robots. A
// wrapper alters the commands or answers of the emulated changer.
#include <regex>

#include "d2t/scsi/sense.h"
#include "d2t/tools/identity.h"
#include "d2t/tools/scsi_device.h"
#include "d2t/tools/tests/quirky_changer.h"

namespace d2t {
namespace tools {
namespace {

using namespace d2t::scsi;
using testing::busy;
using testing::check_condition;
using testing::Quirky_Changer;
using testing::SEEDED_DRIVES;
using testing::SEEDED_SLOTS;
using testing::timed_out;

TEST_F(Quirky_Changer, ReportsLongerThanTheBufferAreContinued) {
  ASSERT_TRUE(mount(CHANGER, 1, 6, "A00006L8", 3, count_));
  const std::string expected = status_text();
  ASSERT_NE("failed", expected);
  // Room for the headers and 3 tagged descriptors and a bit.
  quirks_.max_allocation = 16 + 3 * 48 + 20;
  quirks_.element_status_requests = 0;
  EXPECT_EQ(expected, status_text());
  EXPECT_GE(quirks_.element_status_requests, 24 / 3);
  quirks_.max_allocation = 16 + 10;  // too small for one element
  EXPECT_EQ("failed", status_text());
}

TEST_F(Quirky_Changer, NoDeviceIdentifiersOrVolumeTags) {
  quirks_.refuse_dvcid = true;
  EXPECT_EQ(SEEDED_SLOTS + "d0||@0 d1||@0 ", status_text());
  // Without tags every slot is still known to be full or empty.
  quirks_.refuse_voltag = true;
  EXPECT_EQ(
      std::regex_replace(SEEDED_SLOTS, std::regex("\\|[A-Z0-9]+\\|"), "||") + "d0||@0 d1||@0 ",
      status_text());
  // Only VolTag refused: the identifiers are kept (one flag at a time).
  quirks_.refuse_dvcid = false;
  std::vector<Element_Identity> ids;
  ASSERT_TRUE(changer_identities(CHANGER, ids));
  ASSERT_EQ(2u, ids.size());
  EXPECT_EQ("EMU-DRV-0001", ids[0].serial);
}

// Drive descriptors longer than the per-descriptor budget: a serial number
// of 60 characters makes each one 136 bytes.
TEST_F(Quirky_Changer, DescriptorsLongerThanBudgetedAreReadWithMoreRoom) {
  const std::string LONG_SERIAL = "LONG-" + std::string(50, 'S') + "-0001";
  std::string json = testing::LIBRARY_JSON;
  json.replace(json.find("EMU-DRV-0001"), 12, LONG_SERIAL);
  start(json);
  install_quirks();
  Changer c;
  ASSERT_TRUE(read_status(c));
  ASSERT_EQ(2u, c.drives().size());
  EXPECT_EQ(LONG_SERIAL, c.drives()[0]->serial_number());
  EXPECT_EQ("EMU-DRV-0002", c.drives()[1]->serial_number());

  // One drive element at a time (the stale-name check of an unload).
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 0, count_));
  ASSERT_TRUE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 0, count_));
  EXPECT_EQ("slot 1", where("A00001L9"));
}

TEST_F(Quirky_Changer, UnloadGoesOnWhenTheDriveHasNoTapeThreaded) {
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 0, count_));
  // MEDIUM NOT PRESENT with a qualifier other than 00 (loadable medium
  // at the throat) means the eject has nothing to do.
  quirks_.unload_answers.push_back(check_condition(SK_NOT_READY, 0x3A, 0x04));
  EXPECT_TRUE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 0, count_));
  EXPECT_EQ("slot 1", where("A00001L9"));

  // Any other not-ready answer of the eject still ends the unload.
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 0, count_));
  quirks_.unload_answers.push_back(check_condition(SK_NOT_READY, 0x04, 0x03));
  EXPECT_FALSE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 0, count_));
  EXPECT_EQ("drive 0", where("A00001L9"));
}

TEST_F(Quirky_Changer, MoveWhoseAnswerWasLostIsCheckedAgainstElementStatus) {
  // The robot made the move but its answer was lost; the retry finds the
  // slot empty. The cartridge is where it was asked to go: success.
  quirks_.lost_move_answers = 1;
  EXPECT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  EXPECT_EQ(2, quirks_.moves);
  EXPECT_EQ("drive 0", where("A00001L9"));
  quirks_.lost_move_answers = 1;
  EXPECT_TRUE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 3, count_));
  EXPECT_EQ("slot 1", where("A00001L9"));

  // A source empty from the start stays a failure, lost answer or not.
  quirks_.move_answers.push_back(timed_out());
  EXPECT_FALSE(transfer(CHANGER, 11, 13, 3));  // slot 11 is empty

  // Without a lost answer, a full destination is a plain failure.
  quirks_.moves = 0;
  EXPECT_FALSE(transfer(CHANGER, 1, 2, 3));
  EXPECT_EQ(1, quirks_.moves);
}

TEST_F(Quirky_Changer, UndecodableDeviceIdentifiersAreDoneWithout) {
  ASSERT_TRUE(mount(CHANGER, 1, 6, "A00006L8", 3, count_));
  quirks_.short_dvcid_length = true;
  std::string expected = SEEDED_SLOTS;
  expected.replace(expected.find("6|A00006L8|full"), 15, "6||empty");
  EXPECT_EQ(expected + "d0||@0 d1||A00006L8@6 ", status_text());
}

TEST_F(Quirky_Changer, StatusReadsWaitForABusyRobot) {
  const std::string expected = status_text();
  ASSERT_NE("failed", expected);
  // MODE SENSE, then the first READ ELEMENT STATUS, answered BUSY once
  // each, then the next one twice.
  for (int busy : {1, 2, 3}) {
    SCOPED_TRACE(busy);
    quirks_.busy_status_reads = busy;
    const std::uint64_t slept = clock_->slept_;
    EXPECT_EQ(expected, status_text());
    EXPECT_EQ(std::uint64_t(busy) * LOAD_UNLOAD_RETRY_INTERVAL * 1000, clock_->slept_ - slept);
  }
  // A robot that stays busy: the wait is bounded and the status fails.
  quirks_.busy_status_reads = 100;
  EXPECT_EQ("failed", status_text());
  EXPECT_LT(quirks_.busy_status_reads, 100);
  EXPECT_GT(quirks_.busy_status_reads, 100 - 10);
}

// A changer whose element addresses have gaps, replayed from a capture of
// one: the storage addresses from the 13th slot on are 0x10 higher, the
// second drive is at 0x0104. Slots and drives are numbered in address
// order, gaps or not, as the changer reports them.
using Gapped_Changer = testing::Emulated_Library;
TEST_F(Gapped_Changer, NumbersFollowTheReportedAddresses) {
  start(R"({"changers": [{"capture": ")" D2T_SOURCE_DIR
        "/d2t/emulator/captures/address-gaps.json\"}]}");
  EXPECT_EQ(SEEDED_SLOTS + SEEDED_DRIVES, status_text());

  // Moves across the gap, to the drive behind the other gap and back.
  ASSERT_TRUE(transfer(CHANGER, 1, 20, 0));
  EXPECT_EQ("slot 20", where("A00001L9"));
  ASSERT_TRUE(mount(CHANGER, 1, 20, "A00001L9", 0, count_));
  EXPECT_EQ("drive 1", where("A00001L9"));
  EXPECT_NE(std::string::npos, status_text().find(" d1|EMU-DRV-0002|A00001L9@20 "));
  ASSERT_TRUE(unload_all(CHANGER, 0));
  EXPECT_EQ("slot 20", where("A00001L9"));
  EXPECT_FALSE(transfer(CHANGER, 20, 27, 0));  // no slot 27
}

TEST_F(Quirky_Changer, BusyRobotIsRetriedAbortedMoveIsNot) {
  quirks_.move_answers = {check_condition(SK_NOT_READY, 0x04, 0x01), busy(),
                          check_condition(SK_UNIT_ATTENTION, 0x28, 0)};
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 3, count_));
  EXPECT_EQ(4, quirks_.moves);
  EXPECT_EQ(2u * LOAD_UNLOAD_RETRY_INTERVAL * 1000, clock_->slept_);
  EXPECT_EQ("drive 0", where("A00001L9"));

  // Retries run out.
  quirks_.move_answers.assign(5, busy());
  quirks_.moves = 0;
  EXPECT_FALSE(transfer(CHANGER, 2, 11, 2));
  EXPECT_EQ(3, quirks_.moves);

  quirks_.move_answers.assign(1, check_condition(SK_ABORTED_COMMAND, 0, 0));
  quirks_.moves = 0;
  EXPECT_FALSE(transfer(CHANGER, 2, 11, 3));
  EXPECT_EQ(1, quirks_.moves);
  EXPECT_EQ("slot 2", where("A00002L9"));

  // A unit attention (library reset) means the move was not made: it is
  // made again even without retries.
  quirks_.move_answers.assign(1, check_condition(SK_UNIT_ATTENTION, 0x29, 0));
  quirks_.moves = 0;
  const std::uint64_t slept = clock_->slept_;
  EXPECT_TRUE(transfer(CHANGER, 2, 11, 0));
  EXPECT_EQ(2, quirks_.moves);
  EXPECT_EQ(slept, clock_->slept_);
  EXPECT_EQ("slot 11", where("A00002L9"));
  ASSERT_TRUE(transfer(CHANGER, 11, 2, 0));
  // An attention that never clears is not repeated for ever.
  quirks_.move_answers.assign(10, check_condition(SK_UNIT_ATTENTION, 0x29, 0));
  quirks_.moves = 0;
  EXPECT_FALSE(transfer(CHANGER, 2, 11, 1));
  EXPECT_EQ(1 + UNIT_ATTENTION_REPEATS + 1, quirks_.moves);
}

}  // namespace
}  // namespace tools
}  // namespace d2t
