#include "d2t/scsi/sysfs_provider.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "d2t/scsi/cdb.h"
#include "d2t/scsi/sense.h"
#include "d2t/scsi/sg_transport.h"
#include "testing/temp_dir.h"

namespace fs = std::filesystem;

namespace d2t {
namespace scsi {
namespace {

// A sysfs tree as the kernel lays it out for SCSI devices, in a temporary
// folder.
class Sysfs_Tree : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_ / "bus" / "scsi" / "devices"); }

  void write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text << "\n";
  }
  // One SCSI device; an empty sg or st leaves that part out.
  void device(const std::string& hctl, int type, const std::string& sg,
              const std::string& st = "") {
    fs::path d = root_ / "bus" / "scsi" / "devices" / hctl;
    write(d / "type", std::to_string(type));
    for (const char* f : {"vendor", "model", "rev"}) write(d / f, "X");
    if (!sg.empty()) {
      write(d / "scsi_generic" / sg / "dev", "21:0");
      fs::create_directory_symlink(fs::path("scsi_generic") / sg, d / "generic");
    }
    if (!st.empty()) {
      // The tape driver creates several nodes per unit.
      for (const std::string& n : {st, st + "a", st + "l", "n" + st})
        write(d / "scsi_tape" / n / "dev", "9:0");
      fs::create_directory_symlink(fs::path("scsi_tape") / st, d / "tape");
    }
  }

  test_support::Temp_Dir dir_{"d2t_sysfs"};
  const fs::path root_ = dir_.path();
};

TEST_F(Sysfs_Tree, ListsChangersAndTapesInSgOrder) {
  device("2:0:10:1", 1, "sg10", "st3");
  device("0:0:0:0", 8, "sg2");
  device("0:0:1:0", 1, "sg3", "st0");
  device("0:0:2:0", 0, "sg0");  // a disk: not listed
  device("0:0:3:0", 1, "");     // tape without a generic device
  write(root_ / "bus" / "scsi" / "devices" / "host0" / "type", "8");
  write(root_ / "bus" / "scsi" / "devices" / "target0:0:0" / "type", "8");

  std::vector<Device_Entry> out;
  std::string error;
  ASSERT_TRUE(list_sysfs_devices(root_.string(), "/devroot", out, &error)) << error;
  const char* const expected[] = {"changer /devroot/sg2 - 0:0:0:0",
                                  "tape /devroot/sg3 /devroot/st0 0:0:1:0",
                                  "tape /devroot/sg10 /devroot/st3 2:0:10:1"};
  ASSERT_EQ(std::size(expected), out.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    const Device_Entry& e = out[i];
    EXPECT_EQ(expected[i], std::string(e.kind == Device_Kind::CHANGER ? "changer " : "tape ") +
                               e.sg_name + " " + (e.dev_name.empty() ? "-" : e.dev_name) + " " +
                               e.target_name + ":" + std::to_string(e.lun));
  }

  out.clear();
  EXPECT_FALSE(list_sysfs_devices((root_ / "nope").string(), "/dev", out, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(out.empty());
}

// lsscsi reads the same tree; both listings must name the same devices.
TEST_F(Sysfs_Tree, AgreesWithLsscsi) {
  device("0:0:0:0", 8, "sg0");
  device("0:0:1:0", 1, "sg1", "st0");
  device("3:0:4:2", 1, "sg7", "st5");
  std::string cmd = "lsscsi -y " + root_.string() + " -g -k 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) GTEST_SKIP() << "cannot run lsscsi";
  std::string text;
  char buf[512];
  while (fgets(buf, sizeof buf, p)) text += buf;
  if (pclose(p) != 0 || text.empty()) GTEST_SKIP() << "lsscsi not usable";

  // "[H:C:T:L]  type  vendor model rev  st-or-dash  sg", read as
  // "H:C:T:L st-or-dash sg".
  std::set<std::string> theirs, ours;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream f(line);
    const std::vector<std::string> w{std::istream_iterator<std::string>(f), {}};
    ASSERT_GE(w.size(), 3u) << line;
    theirs.insert(w[0].substr(1, w[0].size() - 2) + " " + w[w.size() - 2] + " " + w.back());
  }
  std::vector<Device_Entry> entries;
  ASSERT_TRUE(list_sysfs_devices(root_.string(), "/dev", entries, nullptr));
  for (const Device_Entry& e : entries)
    ours.insert(e.target_name + ":" + std::to_string(e.lun) + " " +
                (e.dev_name.empty() ? "-" : e.dev_name) + " " + e.sg_name);
  EXPECT_EQ(theirs, ours);
}

// Tape names open the generic device of the same unit: with only the sg
// node present under the /dev root, opening the tape names (mode variants
// too) must work. A tape name the listing does not know is opened by its
// non-rewinding node, whose close leaves the tape where it is: with only
// "nst5" present, "st5" opens.
TEST_F(Sysfs_Tree, TapeNamesOpenTheGenericOrNonRewindingNode) {
  device("0:0:1:0", 1, "sg1", "st0");
  fs::path dev = root_ / "dev";
  for (const char* node : {"sg1", "nst5", "nst5m"}) write(dev / node, "");
  Sysfs_Device_Provider provider(root_.string(), dev.string());
  std::string error;
  for (const char* name : {"nst0", "st0", "sg1", "nst0a", "st0l", "st5", "st5m", "nst5"})
    EXPECT_TRUE(provider.open((dev / name).string(), &error)) << name << ": " << error;
  for (const char* name : {"nst1", "st6"}) {
    error.clear();
    EXPECT_FALSE(provider.open((dev / name).string(), &error)) << name;
    EXPECT_FALSE(error.empty());
  }
}

// A node that is no SCSI device: the command fails as an OS error, never
// as a good status.
TEST_F(Sysfs_Tree, CommandOnANonScsiNodeIsAnOsError) {
  write(root_ / "plain", "");
  std::string error;
  std::unique_ptr<Transport> t = open_sg_transport((root_ / "plain").string(), &error);
  if (!t) GTEST_SKIP() << error;
  Cdb cdb = test_unit_ready_cdb();
  Command c;
  c.cdb = cdb.bytes;
  c.cdb_len = cdb.len;
  Result r = classify(t->execute(c));
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(Failure::OS, r.failure);

  EXPECT_FALSE(open_sg_transport((root_ / "missing").string(), &error));
  EXPECT_FALSE(error.empty());
}

TEST(Non_Rewinding_Name, Table) {
  const std::pair<const char*, const char*> cases[] = {
      {"/dev/st0", "/dev/nst0"},
      {"/x/y/st12", "/x/y/nst12"},
      {"/dev/nst0", "/dev/nst0"},
      {"/dev/sg3", "/dev/sg3"},
      {"/dev/st", "/dev/st"},
      {"/dev/st0a", "/dev/nst0a"},
      {"/dev/nst0m", "/dev/nst0m"},
      {"/dev/st0x", "/dev/st0x"},
      {"/dev/sta", "/dev/sta"},
      {"st4", "nst4"},
      {"/dev/st0ab", "/dev/st0ab"},
      {"/dev/tape/by-id/st0", "/dev/tape/by-id/nst0"},
      {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(c.second, non_rewinding_name(c.first)) << c.first;
}

}  // namespace
}  // namespace scsi
}  // namespace d2t
