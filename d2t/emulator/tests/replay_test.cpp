// Replayed changers: a capture of an emulated library, replayed, answers
// every element status request byte for byte as the original does, before
// and after moves, keeps its state across reopening, and serves quirks
// (odd descriptor lengths, one DVCID variant only) as recorded.
#include <gtest/gtest.h>

#include <fstream>

#include "d2t/capture/capture_file.h"
#include "d2t/capture/capturer.h"
#include "d2t/emulator/emulator.h"
#include "d2t/emulator/library.h"
#include "d2t/emulator/provider.h"
#include "test_support.h"

namespace d2t {
namespace emulator {
namespace {

using namespace testing_support;

// small_library() at 12 slots (porter slots 13 and 14) with an unlabelled
// cartridge, one in a porter slot and one loaded in DRV-B (drive 1, listed
// first by its /dev/sg6): the capture's drive order is not the elements'.
std::string original_library() {
  std::string text = small_library(12);
  text.insert(text.find(R"({"slot": 1,)"), R"({"slot": 7, "barcode": ""},
      {"slot": 13, "barcode": "R00013L9"}, {"drive": 1, "barcode": "R00099L9"}, )");
  return text;
}

class Replay_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    original_file_ = dir_.file("original.json");
    write_file(original_file_, original_library());
    std::string error;
    original_ = make_provider(original_file_, &error);
    ASSERT_TRUE(original_) << error;
    d2t::capture::Capture c;
    ASSERT_TRUE(d2t::capture::capture_devices(*original_, "/dev/sg5", true, c, error, nullptr))
        << error;
    capture_ = c;
    ASSERT_NO_FATAL_FAILURE(replay_with(c));
  }

  void replay_with(const d2t::capture::Capture& c, const std::string& keys = "") {
    write_file(dir_.file("capture.json"), d2t::capture::write_capture(c));
    replay_file_ = dir_.file("replay.json");
    std::remove((replay_file_ + ".state").c_str());
    write_file(replay_file_, R"({"changers": [{"capture": "capture.json")" + keys + "}]}");
    std::string error;
    replay_ = make_provider(replay_file_, &error);
    ASSERT_TRUE(replay_) << error;
  }

  // Both changers give the same answer to every request of a grid.
  void expect_same_element_status() {
    auto a = original_->open("/dev/sg5", nullptr);
    auto b = replay_->open("/dev/sg5", nullptr);
    ASSERT_TRUE(a && b);
    for (std::uint8_t type = 0; type <= 4; ++type)
      for (bool voltag : {false, true})
        for (bool dvcid : {false, true})
          for (std::uint16_t start : {0x0, 0x101, 0x400, 0x1003, 0x2000})
            for (std::uint16_t count : {1, 3, 0xFFFF})
              for (std::uint32_t alloc : {8u, 30u, 100u, 4096u}) {
                Bytes cdb = res_cdb(type, voltag, dvcid, start, count, alloc);
                ASSERT_EQ(run(*a, cdb, alloc), run(*b, cdb, alloc)) << d2t::capture::to_hex(cdb);
              }
  }

  Temp_Dir dir_;
  std::string original_file_, replay_file_;
  std::unique_ptr<d2t::scsi::Device_Provider> original_, replay_;
  d2t::capture::Capture capture_;
};

TEST_F(Replay_Test, AnswersLikeTheOriginalBeforeAndAfterMoves) {
  ASSERT_NO_FATAL_FAILURE(expect_same_element_status());
  // Into a drive, out of a drive, slot to porter, porter to slot and to porter.
  auto a = original_->open("/dev/sg5", nullptr);
  auto b = replay_->open("/dev/sg5", nullptr);
  for (const auto& m : {move_cdb(0x1000, 0x100), move_cdb(0x101, 0x1003), move_cdb(0x1002, 0x401),
                        move_cdb(0x400, 0x1009), move_cdb(0x1006, 0x101), move_cdb(0x401, 0x400)}) {
    Answer x = run(*a, m, 0), y = run(*b, m, 0);
    ASSERT_EQ(x, y) << d2t::capture::to_hex(m);
    ASSERT_TRUE(x.good()) << d2t::capture::to_hex(m);
  }
  // Refusals agree too: source empty, destination full, no such element.
  for (const auto& m :
       {move_cdb(0x1000, 0x1001), move_cdb(0x1001, 0x1009), move_cdb(0x1000, 0x1FFF)})
    ASSERT_EQ(run(*a, m, 0), run(*b, m, 0)) << d2t::capture::to_hex(m);
  ASSERT_NO_FATAL_FAILURE(expect_same_element_status());

  // The replayed positions are in the state file: a new process sees them.
  std::string error;
  auto again = make_provider(replay_file_, &error);
  ASSERT_TRUE(again) << error;
  replay_ = std::move(again);
  ASSERT_NO_FATAL_FAILURE(expect_same_element_status());
}

TEST_F(Replay_Test, DrivesKeepTheirRecordedIdentityAndElement) {
  for (const char* name : {"/dev/sg7", "/dev/st0", "/dev/nst1"}) {
    auto a = original_->open(name, nullptr);
    auto b = replay_->open(name, nullptr);
    ASSERT_TRUE(a && b) << name;
    for (std::uint8_t page : {0x00, 0x80, 0x83})
      for (std::uint16_t alloc : {4, 255}) {
        Bytes cdb = {
            0x12, 1, page, static_cast<std::uint8_t>(alloc >> 8), static_cast<std::uint8_t>(alloc),
            0};
        EXPECT_EQ(run(*a, cdb, alloc), run(*b, cdb, alloc)) << name;
      }
    // Commands other than INQUIRY reach the emulated drive.
    EXPECT_EQ(run(*a, {0, 0, 0, 0, 0, 0}, 0), run(*b, {0, 0, 0, 0, 0, 0}, 0)) << name;
  }
  std::string error;
  auto lib = Library::open(replay_file_, &error);
  ASSERT_TRUE(lib) << error;
  const Changer_Config& c = lib->config()->changers.at(0);
  ASSERT_EQ(2u, c.drives.size());
  EXPECT_EQ("LIB-1 DRV-A /dev/st0",
            c.serial_number + " " + c.drives[0].serial_number + " " + c.drives[1].dev_name);
  EXPECT_EQ("d1", where(*lib)["R00099L9"]);
  EXPECT_EQ(6u, where(*lib).size());
}

TEST_F(Replay_Test, UnrecordedPagesAreInvalidFieldsAndRecordedOnesAreCut) {
  auto a = original_->open("/dev/sg5", nullptr);
  auto b = replay_->open("/dev/sg5", nullptr);
  const Answer refused = run(*b, {0x12, 1, 0xC0, 0, 255, 0}, 255);
  EXPECT_EQ((std::vector<int>{2, 0x05, 0x24}),
            (std::vector<int>{refused.status, refused.key(), refused.asc()}));
  EXPECT_EQ(2, run(*b, {0x1A, 0x08, 0x1C, 0, 255, 0}, 255).status);
  EXPECT_EQ(2, run(*b, {0x12, 0, 0x80, 0, 255, 0}, 255).status);  // page without EVPD
  for (std::uint8_t alloc : {5, 36, 255}) {
    EXPECT_EQ(run(*a, {0x12, 0, 0, 0, alloc, 0}, alloc), run(*b, {0x12, 0, 0, 0, alloc, 0}, alloc));
    for (std::uint8_t page : {0x1D, 0x1F, 0x3F}) {
      Bytes six = {0x1A, 0x08, page, 0, alloc, 0};
      Bytes ten = {0x5A, 0x08, page, 0, 0, 0, 0, 0, alloc, 0};
      EXPECT_EQ(run(*a, six, alloc), run(*b, six, alloc)) << int(page);
      EXPECT_EQ(run(*a, ten, alloc), run(*b, ten, alloc)) << int(page);
    }
  }
}

TEST_F(Replay_Test, ServesTheRecordedDvcidVariantThatExists) {
  // The capture without the element status answers asked with (or
  // without) DVCID: asked the missing way, the other variant is served.
  for (bool recorded_dvcid : {false, true}) {
    SCOPED_TRACE(recorded_dvcid);
    d2t::capture::Capture c = capture_;
    auto& list = c.changer.exchanges;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const d2t::capture::Exchange& x) {
                                return x.cdb[0] == 0xB8 && bool(x.cdb[6] & 1) != recorded_dvcid;
                              }),
               list.end());
    ASSERT_NO_FATAL_FAILURE(replay_with(c));
    auto a = original_->open("/dev/sg5", nullptr);
    auto b = replay_->open("/dev/sg5", nullptr);
    EXPECT_EQ(run(*a, res_cdb(4, true, recorded_dvcid, 0, 10, 4096), 4096),
              run(*b, res_cdb(4, true, !recorded_dvcid, 0, 10, 4096), 4096));
  }
}

TEST_F(Replay_Test, KeepsADescriptorLengthThatDisagreesWithTheByteCount) {
  // A changer that announces drive descriptors 4 bytes shorter than it
  // sends them (the identifier header left out of the length).
  d2t::capture::Capture c = capture_;
  Bytes recorded;
  for (d2t::capture::Exchange& x : c.changer.exchanges) {
    // Element status of the drives with identifiers.
    if (x.cdb[0] != 0xB8 || x.status != 0 || (x.cdb[1] & 0x0F) != 4 || !(x.cdb[6] & 1) ||
        x.data.size() < 16)
      continue;
    std::uint16_t len = static_cast<std::uint16_t>(x.data[10] << 8 | x.data[11]);
    x.data[10] = static_cast<std::uint8_t>((len - 4) >> 8);
    x.data[11] = static_cast<std::uint8_t>(len - 4);
    recorded = x.data;
  }
  ASSERT_FALSE(recorded.empty());
  ASSERT_NO_FATAL_FAILURE(replay_with(c));
  auto b = replay_->open("/dev/sg5", nullptr);
  Answer whole = run(*b, res_cdb(4, true, true, 0x100, 2, 4096), 4096);
  EXPECT_EQ(recorded, whole.data);
  // One element of it: the same announced length and the real bytes.
  Answer one = run(*b, res_cdb(4, true, true, 0x101, 1, 4096), 4096);
  ASSERT_GE(one.data.size(), 16u);
  EXPECT_EQ(recorded[10], one.data[10]);
  EXPECT_EQ(recorded[11], one.data[11]);
  EXPECT_EQ(8 + 8 + (recorded.size() - 16) / 2, one.data.size());
}

TEST_F(Replay_Test, FaultsAndOverridesApply) {
  ASSERT_NO_FATAL_FAILURE(replay_with(
      capture_, R"(, "sg_name": "/dev/sg77", "faults": [{"op": "mount", "times": 1}])"));
  EXPECT_FALSE(replay_->open("/dev/sg5", nullptr));
  auto b = replay_->open("/dev/sg77", nullptr);
  ASSERT_TRUE(b);
  Answer refused = run(*b, move_cdb(0x1000, 0x100), 0);
  EXPECT_EQ(2, refused.status);
  EXPECT_EQ(0, run(*b, move_cdb(0x1000, 0x100), 0).status);
  // A "timing" of the replayed changer replaces the library's.
  std::remove((replay_file_ + ".state").c_str());
  write_file(replay_file_, R"({"timing": {"move_ms": 7000},
      "changers": [{"capture": "capture.json", "timing": {"move_ms": 50, "load_ms": 900}}]})");
  std::string error;
  auto clock = std::make_shared<Fake_Clock>();
  std::shared_ptr<Library> lib = Library::open(replay_file_, &error, clock);
  ASSERT_TRUE(lib) << error;
  Emulated_Provider timed(lib);
  auto t = timed.open("/dev/sg5", nullptr);
  ASSERT_TRUE(t);
  ASSERT_EQ(0, run(*t, move_cdb(0x1001, 0x1003), 0).status);
  EXPECT_EQ(50u, clock->slept_ms());
  ASSERT_EQ(0, run(*t, move_cdb(0x1003, 0x100), 0).status);
  EXPECT_EQ(100u, clock->slept_ms());
  const Answer loading = run(*timed.open("/dev/sg7", nullptr), {0, 0, 0, 0, 0, 0}, 0);
  EXPECT_EQ(0x04, loading.asc());  // becoming ready: load_ms has not passed
  // Shape keys belong to the capture.
  write_file(replay_file_, R"({"changers": [{"capture": "capture.json", "storage_slots": 3}]})");
  EXPECT_FALSE(make_provider(replay_file_, &error));
  EXPECT_NE(std::string::npos, error.find("storage_slots")) << error;
  write_file(replay_file_, R"({"changers": [{"capture": "missing.json"}]})");
  EXPECT_FALSE(make_provider(replay_file_, &error));
}

}  // namespace
}  // namespace emulator
}  // namespace d2t
