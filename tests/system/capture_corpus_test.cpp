// Every capture of d2t/emulator/captures, replayed: the daemon (scripts/
// demo on the replayed library) lists the library over HTTP with every
// drive identified and every cartridge where the capture says it is. (A
// restart keeps a replayed library's positions: the round trip test.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "d2t/emulator/library.h"
#include "tests/system/system_support.h"

namespace {

const std::string CAPTURES = std::string(D2T_SOURCE_DIR) + "/d2t/emulator/captures";

std::vector<std::string> capture_files() {
  std::vector<std::string> names;
  std::error_code ec;  // no folder: no captures, which the first test reports
  for (const auto& e : std::filesystem::directory_iterator(CAPTURES, ec))
    if (e.path().extension() == ".json") names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class Corpus_Test : public Temp_Dir, public ::testing::WithParamInterface<std::string> {};

TEST(Corpus, FolderHoldsCaptures) { EXPECT_GE(capture_files().size(), 8u); }

TEST_P(Corpus_Test, ListsEveryDriveAndCartridgeOfTheCapture) {
  const std::string run_dir = dir_ + "/run";
  const std::string library_file = run_dir + "/library.json";
  ASSERT_EQ(0, ::mkdir(run_dir.c_str(), 0755));
  std::ofstream(library_file) << R"({"changers": [{"capture": ")" + CAPTURES + "/" + GetParam() +
                                     R"("}]})";
  // What the capture says, before anything moved.
  std::string error;
  std::shared_ptr<d2t::emulator::Library> lib = d2t::emulator::Library::open(library_file, &error);
  ASSERT_TRUE(lib) << error;
  const d2t::emulator::Changer_Config changer = lib->config()->changers.at(0);
  std::vector<d2t::emulator::Cartridge_Info> recorded;
  ASSERT_TRUE(lib->cartridges(recorded, &error)) << error;
  ASSERT_FALSE(recorded.empty());

  system_test::Demo_Daemon daemon(run_dir);
  ASSERT_TRUE(daemon.start(error)) << error;
  const system_test::Library_View listed =
      system_test::library_reply(daemon, "list", changer.serial_number);
  ASSERT_TRUE(listed.ok) << listed.error;

  // Every drive, identified: its serial number and its host device.
  std::string drive_names;
  for (std::size_t i = 0; i < changer.drives.size(); ++i) {
    drive_names += std::to_string(i) + ":" + changer.drives[i].serial_number + ":" +
                   changer.drives[i].dev_name + ":" + changer.drives[i].sg_name + " ";
  }
  EXPECT_EQ(drive_names, listed.drive_names);
  // Every labelled cartridge: in its recorded slot, or (one that was in a
  // drive, which the first scan empties) somewhere in the library.
  std::map<std::string, int> slot_of_tag;
  for (const auto& s : listed.slots) slot_of_tag[s.second] = s.first;
  for (const d2t::emulator::Cartridge_Info& c : recorded) {
    if (c.barcode.empty()) continue;
    ASSERT_TRUE(slot_of_tag.count(c.barcode)) << c.barcode << " missing from the list reply";
    if (c.place != d2t::emulator::Place::DRIVE) {
      EXPECT_EQ(c.slot, slot_of_tag[c.barcode]) << c.barcode;
    }
  }

  EXPECT_EQ(0, daemon.stop());
}

INSTANTIATE_TEST_SUITE_P(Captures, Corpus_Test, ::testing::ValuesIn(capture_files()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param.substr(0, info.param.size() - 5);
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

}  // namespace
