// The blame policy of mount and unmount: only the drive's own faults count
// against it. Each class of answer is scripted in front of the emulated
// changer (or produced by it), and the cartridge never moves on failure.
#include "d2t/scsi/sense.h"
#include "d2t/tools/tests/quirky_changer.h"

namespace d2t {
namespace tools {
namespace {

using namespace d2t::scsi;
using testing::check_condition;
using testing::Quirky_Changer;
using testing::timed_out;

using Blame_Test = Quirky_Changer;

const char* name(Blame b) {
  return b == Blame::NONE ? "none" : b == Blame::COUNT ? "count" : "faulty";
}

// The move's answer decides, for a load and for an unload alike.
TEST_F(Blame_Test, MoveAnswersBlameTheDriveOnlyForItsOwnFaults) {
  struct Row {
    const char* what;
    Outcome answer;
    Blame blame;
  };
  const Row rows[] = {
      {"source empty", check_condition(SK_ILLEGAL_REQUEST, 0x3B, 0x0E), Blame::NONE},
      {"destination full", check_condition(SK_ILLEGAL_REQUEST, 0x3B, 0x0D), Blame::NONE},
      {"invalid element", check_condition(SK_ILLEGAL_REQUEST, 0x21, 0x01), Blame::NONE},
      {"invalid field in cdb", check_condition(SK_ILLEGAL_REQUEST, 0x24, 0x00), Blame::COUNT},
      {"aborted", check_condition(SK_ABORTED_COMMAND, 0x00, 0x00), Blame::COUNT},
      {"not ready", check_condition(SK_NOT_READY, 0x04, 0x03), Blame::COUNT},
      {"medium error", check_condition(SK_MEDIUM_ERROR, 0x30, 0x00), Blame::COUNT},
      {"time-out", timed_out(), Blame::COUNT},
      {"hardware error", check_condition(SK_HARDWARE_ERROR, 0x44, 0x00), Blame::FAULTY},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    quirks_.move_answers.assign(1, r.answer);
    Blame blame = Blame::NONE;
    EXPECT_FALSE(mount(CHANGER, 0, 1, "A00001L9", 0, blame));
    EXPECT_STREQ(name(r.blame), name(blame));
    EXPECT_EQ("slot 1", where("A00001L9"));

    quirks_.move_answers.clear();
    ASSERT_TRUE(mount(CHANGER, 1, 2, "A00002L9", 0, blame));
    quirks_.move_answers.assign(1, r.answer);
    blame = Blame::NONE;
    EXPECT_FALSE(unmount(CHANGER, DRIVE1_SG, 1, 2, "A00002L9", 0, blame));
    EXPECT_STREQ(name(r.blame), name(blame));
    EXPECT_EQ("drive 1", where("A00002L9"));
    quirks_.move_answers.clear();
    ASSERT_TRUE(unmount(CHANGER, DRIVE1_SG, 1, 2, "A00002L9", 0, blame));
  }
}

// The library's own refusals and requests refused before any command are
// not the drive's, and move nothing; the drive's own answer to an eject is.
TEST_F(Blame_Test, RefusalsAndEjectAnswers) {
  Blame blame = Blame::NONE;
  ASSERT_TRUE(mount(CHANGER, 0, 1, "A00001L9", 0, blame));
  const struct {
    std::string changer;
    int drive, slot;
    const char* tag;
    const char* why;
  } refused[] = {
      {CHANGER, 1, 11, "", "slot empty"},
      {CHANGER, 1, 99, "A00003L9", "no such slot"},
      {CHANGER, 1, 0, "", "slot 0"},
      {CHANGER, 5, 3, "A00003L9", "no such drive"},
      {CHANGER, 1, 3, "A00002L9", "another cartridge"},
      {CHANGER, 0, 2, "A00002L9", "drive 0 is full"},
      {"/dev/sg99", 1, 3, "A00003L9", "no such changer"},
  };
  for (const auto& r : refused) {
    blame = Blame::COUNT;
    EXPECT_FALSE(mount(r.changer, r.drive, r.slot, r.tag, 0, blame)) << r.why;
    EXPECT_EQ(Blame::NONE, blame) << r.why;
  }
  EXPECT_EQ("slot 2", where("A00002L9"));
  EXPECT_EQ("slot 3", where("A00003L9"));
  EXPECT_EQ(12u, cartridge_count());

  for (const auto& row :
       {std::make_pair(check_condition(SK_ILLEGAL_REQUEST, 0x24, 0), Blame::COUNT),
        std::make_pair(check_condition(SK_HARDWARE_ERROR, 0x44, 0), Blame::FAULTY)}) {
    quirks_.unload_answers.assign(1, row.first);
    blame = Blame::NONE;
    EXPECT_FALSE(unmount(CHANGER, DRIVE0_NST, 0, 1, "A00001L9", 0, blame));
    EXPECT_STREQ(name(row.second), name(blame));
    EXPECT_EQ("drive 0", where("A00001L9"));
  }

  // The older flag form: false only for a drive faulty at once.
  bool count_failure = false;
  EXPECT_FALSE(mount(CHANGER, 1, 11, "", 0, count_failure));
  EXPECT_TRUE(count_failure);
  quirks_.move_answers.assign(1, check_condition(SK_HARDWARE_ERROR, 0x44, 0x00));
  EXPECT_FALSE(mount(CHANGER, 1, 2, "A00002L9", 0, count_failure));
  EXPECT_FALSE(count_failure);
}

}  // namespace
}  // namespace tools
}  // namespace d2t
