// Cartridge moves, drive states, persistence and injected faults of the
// emulated library, checked against its truth after each step.
#include "d2t/emulator/library.h"

#include <gtest/gtest.h>

#include "d2t/emulator/element_map.h"
#include "test_support.h"

namespace d2t {
namespace emulator {
namespace {

using namespace testing_support;

const std::string LIB = "LIB-1";
const std::uint16_t DRIVE0 = DRIVE_BASE, DRIVE1 = DRIVE_BASE + 1;
std::uint16_t slot(int n) { return static_cast<std::uint16_t>(STORAGE_BASE + n - 1); }

class Library_Test : public ::testing::Test {
 protected:
  void open(const std::string& text) {
    write_file(file_, text);
    std::string error;
    lib_ = Library::open(file_, &error, clock_);
    ASSERT_TRUE(lib_) << error;
  }
  Temp_Dir dir_;
  std::string file_ = dir_.file("library.json");
  std::shared_ptr<Fake_Clock> clock_ = std::make_shared<Fake_Clock>();
  std::shared_ptr<Library> lib_;
};

TEST_F(Library_Test, MovesChangeTheTruthAndPersistAcrossReopen) {
  open(small_library());
  EXPECT_EQ(lib_->move_medium(LIB, slot(1), DRIVE1), sense::OK);
  EXPECT_EQ(lib_->move_medium(LIB, slot(2), PORTER_BASE), sense::OK);
  auto w = where(*lib_);
  EXPECT_EQ(w["T00001L9"], "d1");
  EXPECT_EQ(w["T00002L9"], "p11");
  EXPECT_EQ(w["CLN001L1"], "s3");

  std::vector<Cartridge_Info> all;
  ASSERT_TRUE(lib_->cartridges(all, nullptr));
  for (const Cartridge_Info& c : all) {
    if (c.barcode != "T00001L9") continue;
    EXPECT_EQ(c.drive_serial, "DRV-B");
    EXPECT_EQ(c.home_slot, 1);
    EXPECT_TRUE(c.threaded);
  }

  lib_.reset();
  std::shared_ptr<Library> again = Library::open(file_, nullptr, clock_);
  ASSERT_TRUE(again);
  EXPECT_EQ(where(*again), w);
  // Another view of the same files sees a move made through this one.
  std::shared_ptr<Library> other = Library::open(file_, nullptr, clock_);
  EXPECT_EQ(again->move_medium(LIB, DRIVE1, slot(1)), sense::OK);
  EXPECT_EQ(where(*other)["T00001L9"], "s1");
  // reset() starts over from the file.
  EXPECT_EQ(other->move_medium(LIB, slot(3), slot(4)), sense::OK);
  ASSERT_TRUE(again->reset(nullptr));
  EXPECT_EQ(where(*other)["CLN001L1"], "s3");
  EXPECT_EQ(where(*other)["T00002L9"], "s2");
}

TEST_F(Library_Test, RefusedMovesLeaveEverythingInPlace) {
  open(small_library());
  auto before = where(*lib_);
  EXPECT_EQ(lib_->move_medium(LIB, slot(5), slot(6)), sense::SOURCE_EMPTY);
  EXPECT_EQ(lib_->move_medium(LIB, slot(1), slot(2)), sense::DESTINATION_FULL);
  EXPECT_EQ(lib_->move_medium(LIB, slot(11), slot(6)), sense::INVALID_ELEMENT);
  EXPECT_EQ(lib_->move_medium(LIB, slot(1), PORTER_BASE + 2), sense::INVALID_ELEMENT);
  EXPECT_EQ(lib_->move_medium(LIB, slot(1), DRIVE_BASE + 2), sense::INVALID_ELEMENT);
  EXPECT_EQ(lib_->move_medium(LIB, TRANSPORT_ADDRESS, slot(6)), sense::INVALID_ELEMENT);
  ASSERT_EQ(lib_->move_medium(LIB, slot(1), DRIVE0), sense::OK);
  EXPECT_EQ(lib_->move_medium(LIB, slot(2), DRIVE0), sense::DESTINATION_FULL);
  EXPECT_EQ(lib_->move_medium(LIB, DRIVE0, slot(1)), sense::OK);
  EXPECT_EQ(where(*lib_), before);
}

TEST_F(Library_Test, DriveReadinessFollowsLoadTimeAndRaisesOneUnitAttention) {
  open(small_library(10, R"({"move_ms": 100, "load_ms": 5000, "unload_ms": 3000})"));
  EXPECT_EQ(lib_->test_unit_ready(LIB, 0), sense::MEDIUM_NOT_PRESENT);
  ASSERT_EQ(lib_->move_medium(LIB, slot(1), DRIVE0), sense::OK);
  EXPECT_EQ(clock_->slept_ms(), 100u);
  EXPECT_EQ(lib_->test_unit_ready(LIB, 0), sense::BECOMING_READY);
  clock_->advance(4999);
  EXPECT_EQ(lib_->test_unit_ready(LIB, 0), sense::BECOMING_READY);
  Cartridge_State c;
  EXPECT_EQ(lib_->loaded_cartridge(LIB, 0, c), sense::BECOMING_READY);
  clock_->advance(1);
  EXPECT_EQ(lib_->test_unit_ready(LIB, 0), sense::MEDIUM_CHANGED);
  EXPECT_EQ(lib_->test_unit_ready(LIB, 0), sense::OK);
  ASSERT_EQ(lib_->loaded_cartridge(LIB, 0, c), sense::OK);
  EXPECT_EQ(c.barcode, "T00001L9");

  // Eject takes unload_ms; the tape stays in the drive, not ready.
  ASSERT_EQ(lib_->load_unload(LIB, 0, false, false), sense::OK);
  EXPECT_EQ(clock_->slept_ms(), 3100u);
  EXPECT_EQ(lib_->test_unit_ready(LIB, 0), sense::INITIALIZING_COMMAND_REQUIRED);
  EXPECT_EQ(lib_->load_unload(LIB, 0, false, false), sense::OK);  // already out
  EXPECT_EQ(clock_->slept_ms(), 3100u);
  EXPECT_EQ(lib_->move_medium(LIB, DRIVE0, slot(1)), sense::OK);
  EXPECT_EQ(clock_->slept_ms(), 3200u);  // no second unload
  EXPECT_EQ(lib_->load_unload(LIB, 0, false, false), sense::MEDIUM_NOT_PRESENT);

  // Moving a loaded tape out makes the library eject it first.
  ASSERT_EQ(lib_->move_medium(LIB, slot(2), DRIVE1), sense::OK);
  ASSERT_EQ(lib_->move_medium(LIB, DRIVE1, slot(2)), sense::OK);
  EXPECT_EQ(clock_->slept_ms(), 3200u + 100 + 3000 + 100);

  // A cleaning cartridge says so once loaded.
  ASSERT_EQ(lib_->move_medium(LIB, slot(3), DRIVE0), sense::OK);
  clock_->advance(5000);
  EXPECT_EQ(lib_->test_unit_ready(LIB, 0), sense::MEDIUM_CHANGED);
  EXPECT_EQ(lib_->test_unit_ready(LIB, 0), sense::CLEANING_CARTRIDGE);
}

TEST_F(Library_Test, FaultsFailTheNextOperationsThenClear) {
  open(small_library(10, "", R"(, "faults": [
      {"drive": "DRV-A", "op": "mount", "times": 2},
      {"drive": "DRV-B", "op": "unmount", "times": 1, "hardware": true},
      {"op": "transfer", "times": 1, "changer": "LIB-1"},
      {"drive": "DRV-B", "op": "ready", "times": 1}])"));
  // Mount faults hit only drive A, and only twice.
  EXPECT_EQ(lib_->move_medium(LIB, slot(1), DRIVE0), sense::ABORTED);
  EXPECT_EQ(lib_->move_medium(LIB, slot(1), DRIVE0), sense::ABORTED);
  EXPECT_EQ(where(*lib_)["T00001L9"], "s1");
  EXPECT_EQ(lib_->move_medium(LIB, slot(1), DRIVE0), sense::OK);
  EXPECT_EQ(lib_->move_medium(LIB, slot(2), DRIVE1), sense::OK);
  // Ready fault, then the usual sequence.
  EXPECT_EQ(lib_->test_unit_ready(LIB, 1), sense::ABORTED);
  EXPECT_EQ(lib_->test_unit_ready(LIB, 1), sense::MEDIUM_CHANGED);
  // Unmount fault is a hardware error, on the eject as on a move out.
  EXPECT_EQ(lib_->load_unload(LIB, 1, false, false), sense::HARDWARE_FAILURE);
  EXPECT_EQ(lib_->move_medium(LIB, DRIVE1, slot(2)), sense::OK);
  EXPECT_EQ(lib_->move_medium(LIB, slot(2), slot(4)), sense::ABORTED);
  EXPECT_EQ(lib_->move_medium(LIB, slot(2), slot(4)), sense::OK);
  // Counts survive a reopen: nothing is armed again.
  lib_ = Library::open(file_, nullptr, clock_);
  EXPECT_EQ(lib_->move_medium(LIB, DRIVE0, slot(1)), sense::OK);
  EXPECT_EQ(lib_->move_medium(LIB, slot(1), DRIVE0), sense::OK);
}

TEST_F(Library_Test, RunningLibraryPicksUpFaultsWrittenIntoTheFile) {
  open(small_library());
  std::shared_ptr<Library> tool = Library::open(file_, nullptr, clock_);
  ASSERT_TRUE(tool);
  Fault_Config f;
  f.op = Fault_Op::MOUNT;
  f.drive = "DRV-B";
  f.times = 1;
  ASSERT_TRUE(tool->set_faults(LIB, {f}, nullptr));
  EXPECT_EQ(lib_->move_medium(LIB, slot(1), DRIVE0), sense::OK);
  EXPECT_EQ(lib_->move_medium(LIB, slot(2), DRIVE1), sense::ABORTED);
  // The fault is shared: the other process does not get it again.
  EXPECT_EQ(tool->move_medium(LIB, slot(2), DRIVE1), sense::OK);
  // The same list written again arms it again.
  ASSERT_TRUE(tool->set_faults(LIB, {f}, nullptr));
  EXPECT_EQ(lib_->move_medium(LIB, DRIVE1, slot(2)), sense::OK);
  EXPECT_EQ(lib_->move_medium(LIB, slot(2), DRIVE1), sense::ABORTED);
  // Positions never come from re-reading "cartridges".
  EXPECT_EQ(where(*lib_)["T00001L9"], "d0");
  // A broken edit keeps the last good configuration.
  write_file(file_, "{ broken");
  EXPECT_EQ(lib_->move_medium(LIB, DRIVE0, slot(1)), sense::OK);
}

TEST_F(Library_Test, ChangedShapeSeedsTheChangerAgain) {
  open(small_library(10));
  ASSERT_EQ(lib_->move_medium(LIB, slot(1), slot(9)), sense::OK);
  write_file(file_, small_library(10, R"({"move_ms": 0})"));
  EXPECT_EQ(where(*lib_)["T00001L9"], "s9");  // same shape: positions kept
  write_file(file_, small_library(20));
  auto w = where(*lib_);
  EXPECT_EQ(w["T00001L9"], "s1");
  EXPECT_EQ(w["T00002L9"], "s2");
}

TEST_F(Library_Test, CorruptStateIsReportedNotGuessed) {
  open(small_library());
  lib_.reset();
  write_file(file_ + ".state", "d2t-emulator-state 1 ab 3\ngarbage\n");
  std::string error;
  EXPECT_FALSE(Library::open(file_, &error, clock_));
  EXPECT_NE(error.find("state"), std::string::npos);
}

}  // namespace
}  // namespace emulator
}  // namespace d2t
