// Every capture of d2t/emulator/captures, replayed: the daemon (scripts/
// demo on the replayed library) lists the library over HTTP with every
// drive identified and every cartridge where the capture says it is. (A
// restart keeps a replayed library's positions: the round trip test.)
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "d2t/emulator/library.h"
#include "json_spirit/json_spirit.h"
#include "tests/system/system_support.h"

using json_spirit::Array;
using json_spirit::Object;

namespace {

const std::string CAPTURES = std::string(D2T_SOURCE_DIR) + "/d2t/emulator/captures";

std::vector<std::string> capture_files() {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(CAPTURES.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > 5 && n.compare(n.size() - 5, 5, ".json") == 0) names.push_back(n);
    }
    ::closedir(d);
  }
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

  system_test::Demo_Daemon daemon(run_dir, system_test::free_loopback_port());
  ASSERT_TRUE(daemon.start(error)) << error;
  const std::string list = "/d2/r/tapectl/list?serial_number=" + changer.serial_number;
  const Http_Reply r = daemon.get(list);
  ASSERT_EQ(200, r.status) << r.body;
  json_spirit::Value reply;
  ASSERT_TRUE(json_spirit::read(r.body, reply)) << r.body;
  ASSERT_EQ(json_spirit::array_type, reply.type()) << r.body;
  const Object& listed = reply.get_array().at(0).get_obj();
  EXPECT_EQ(changer.serial_number, listed.at("serial_number").get_str());

  // Every drive, identified: its serial number and its host device.
  const Array& drives = listed.at("drives").get_array();
  ASSERT_EQ(changer.drives.size(), drives.size()) << r.body;
  std::map<std::string, std::string> device_of;
  for (const auto& d : changer.drives) device_of[d.serial_number] = d.dev_name;
  std::map<std::string, int> slot_of_tag;  // where the list puts each tag (drives: -1)
  for (const json_spirit::Value& v : drives) {
    const Object& d = v.get_obj();
    const std::string serial = d.at("serial_number").get_str();
    ASSERT_TRUE(device_of.count(serial)) << "unknown drive " << serial << " in " << r.body;
    EXPECT_EQ(device_of[serial], d.at("dev_name").get_str()) << serial;
    device_of.erase(serial);
    auto tag = d.find("media_tag");
    if (tag != d.end() && !tag->second.get_str().empty()) slot_of_tag[tag->second.get_str()] = -1;
  }
  for (const json_spirit::Value& v : listed.at("slots").get_array()) {
    const Object& s = v.get_obj();
    auto tag = s.find("media_tag");
    if (tag != s.end() && !tag->second.get_str().empty())
      slot_of_tag.emplace(tag->second.get_str(), s.at("slot_number").get_int());
  }
  // Every labelled cartridge: in its recorded slot, or (one that was in a
  // drive, which the first scan empties) somewhere in the library.
  for (const d2t::emulator::Cartridge_Info& c : recorded) {
    if (c.barcode.empty()) continue;
    ASSERT_TRUE(slot_of_tag.count(c.barcode)) << c.barcode << " missing from " << r.body;
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
