// Library file parsing and the state file's text form.
#include <gtest/gtest.h>

#include <tuple>

#include "d2t/emulator/config.h"
#include "d2t/emulator/state.h"
#include "test_support.h"

namespace d2t {
namespace emulator {
namespace {

using namespace testing_support;

TEST(Library_File, SampleParsesAndStateFilesLieBesideTheLibraryFile) {
  const std::string sample = std::string(D2T_SOURCE_DIR) + "/d2t/emulator/samples/library.json";
  Library_Config lib;
  std::string error;
  ASSERT_TRUE(load_library(sample, lib, &error)) << error;
  EXPECT_EQ(lib.changers.size(), 1u);
  EXPECT_EQ(lib.state_file, sample + ".state");
  // A relative state file is beside the library file.
  ASSERT_TRUE(parse_library(R"({"state_file": "s/x.state", "changers": []})",
                            "/etc/lib/library.json", lib, nullptr));
  EXPECT_EQ(lib.state_file, "/etc/lib/s/x.state");
  ASSERT_TRUE(parse_library(R"({"state_file": "/var/x.state"})", "lib.json", lib, nullptr));
  EXPECT_EQ(lib.state_file, "/var/x.state");
}

TEST(Library_File, ImpossibleLibrariesAreRefused) {
  // One changer "L" at /dev/sg1 with `keys` added.
  const auto changer = [](const std::string& keys) {
    return R"({"changers": [{"serial_number": "L", "sg_name": "/dev/sg1", )" + keys + "}]}";
  };
  const std::string bad[] = {
      "not json",
      R"({"changers": [{"sg_name": "/dev/sg1"}]})",  // no serial
      changer(R"("storage_slots": 2, "cartridges": [{"slot": 3, "barcode": "A"}])"),
      changer(R"("storage_slots": 2, "cartridges": [{"slot": 1, "barcode": "A"},
                                                    {"slot": 1, "barcode": "B"}])"),
      changer(R"("storage_slots": 2, "cartridges": [{"slot": 1, "barcode": "A"},
                                                    {"slot": 2, "barcode": "A"}])"),
      changer(R"("storage_slots": 2, "fill": {"cartridges": 3})"),
      changer(R"("storage_slots": 4, "cartridges": [{"slot": 4, "barcode": "B00001L9"}],
                 "fill": {"cartridges": 3})"),
      changer(R"("faults": [{"op": "explode"}])"),
      changer(R"("drives": [{"serial_number": "D", "sg_name": "/dev/sg1"}])"),
      changer(R"("drives": [{"serial_number": "D"}])"),  // attached, without a device
      changer(R"("drives": [{"serial_number": "D", "attached": "no"}])"),
      changer(R"("storage_slots": 70000)"),
      changer(R"("storage_slots": -1)"),
      changer(R"("dvcid": "sometimes")"),
      changer(
          R"("drives": [{"serial_number": "D", "sg_name": "/dev/sg2", "automation_vpd": "yes"}])"),
      R"({"timing": {"move_ms": "slow"}})",
  };
  for (const std::string& text : bad) {
    Library_Config lib;
    std::string error;
    EXPECT_FALSE(parse_library(text, "lib.json", lib, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(State, SeedPlacesConfiguredCartridgesThenFillInLowestEmptySlots) {
  Library_Config lib;
  ASSERT_TRUE(parse_library(small_library(8, "", R"(,
      "fill": {"cartridges": 3, "barcode_prefix": "F", "barcode_suffix": "L8",
               "capacity": 5})"),
                            "lib.json", lib, nullptr));
  Changer_State s = seed_changer(lib.changers[0]);
  ASSERT_EQ(s.cartridges.size(), 6u);
  EXPECT_EQ(s.cartridges[s.occupant[3]].barcode, "F00000L8");
  EXPECT_EQ(s.cartridges[s.occupant[5]].barcode, "F00002L8");
  EXPECT_EQ(s.cartridges[s.occupant[5]].capacity, 5u);
  EXPECT_EQ(s.occupant[6], -1);
  EXPECT_TRUE(s.cartridges[s.occupant[2]].cleaning);
}

TEST(State, TextRoundTripsAndRejectsDamage) {
  Library_Config lib;
  ASSERT_TRUE(parse_library(small_library(), "lib.json", lib, nullptr));
  Library_State st;
  st.epoch = "00ab";
  st.generation = 7;
  st.fault_signature = "sig with spaces";
  Fault_State f;
  f.fault.op = Fault_Op::UNMOUNT;
  f.fault.drive = "DRV A";
  f.fault.hardware = true;
  f.remaining = 2;
  st.faults.push_back(f);
  st.changers.push_back(seed_changer(lib.changers[0]));
  Changer_State& c = st.changers[0];
  c.cartridges[0].barcode = "";  // unreadable label survives
  c.move(0, c.drive_element(1));
  c.drive[1].threaded = true;
  c.drive[1].load_seq = 3;

  std::string text = serialize_state(st);
  Library_State back;
  std::string error;
  ASSERT_TRUE(parse_state(text, back, &error)) << error;
  ASSERT_EQ(back.faults.size(), 1u);
  const Fault_State& g = back.faults[0];
  EXPECT_EQ(std::make_tuple(7u, "sig with spaces", "DRV A", 2u, true),
            std::make_tuple(back.generation, back.fault_signature, g.fault.drive, g.remaining,
                            g.fault.hardware));
  const Changer_State& b = back.changers[0];
  EXPECT_EQ(b.occupant[0], -1);
  ASSERT_GE(b.occupant[b.drive_element(1)], 0);
  EXPECT_EQ(b.cartridges[b.occupant[b.drive_element(1)]].source, 0);
  EXPECT_EQ(b.drive[1].load_seq, 3u);
  EXPECT_EQ(serialize_state(back), text);

  std::string epoch;
  std::uint64_t generation = 0;
  ASSERT_TRUE(parse_state_header(text.substr(0, text.find('\n') + 1), epoch, generation));
  EXPECT_EQ(epoch, "00ab");
  EXPECT_EQ(generation, 7u);

  // Truncation anywhere is detected.
  for (std::size_t cut : {text.size() - 1, text.size() / 2, std::size_t(10)})
    EXPECT_FALSE(parse_state(text.substr(0, cut), back, nullptr)) << cut;
  // A cartridge placed twice is refused.
  std::string twice = text;
  std::string::size_type line = twice.find("\nc 1 ");
  ASSERT_NE(line, std::string::npos);
  twice.replace(line, 5, "\nc 2 ");
  EXPECT_FALSE(parse_state(twice, back, &error));
}

}  // namespace
}  // namespace emulator
}  // namespace d2t
