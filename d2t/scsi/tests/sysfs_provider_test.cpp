#include "d2t/scsi/sysfs_provider.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "d2t/scsi/cdb.h"
#include "d2t/scsi/sense.h"
#include "d2t/scsi/sg_transport.h"

namespace fs = std::filesystem;

namespace d2t {
namespace scsi {
namespace {

// A sysfs tree as the kernel lays it out for SCSI devices, in a temporary
// folder.
class Sysfs_Tree : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/d2t_sysfs_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    root_ = tmpl;
    fs::create_directories(root_ / "bus" / "scsi" / "devices");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text << "\n";
  }
  // One SCSI device; an empty sg or st leaves that part out.
  void device(const std::string& hctl, int type, const std::string& sg,
              const std::string& st = "") {
    fs::path d = root_ / "bus" / "scsi" / "devices" / hctl;
    write(d / "type", std::to_string(type));
    write(d / "vendor", "VENDOR");
    write(d / "model", "MODEL");
    write(d / "rev", "0100");
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

  fs::path root_;
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
  ASSERT_EQ(3u, out.size());
  EXPECT_EQ(Device_Kind::CHANGER, out[0].kind);
  EXPECT_EQ("/devroot/sg2", out[0].sg_name);
  EXPECT_EQ("", out[0].dev_name);
  EXPECT_EQ("0:0:0", out[0].target_name);
  EXPECT_EQ(0u, out[0].lun);
  EXPECT_EQ(Device_Kind::TAPE, out[1].kind);
  EXPECT_EQ("/devroot/sg3", out[1].sg_name);
  EXPECT_EQ("/devroot/st0", out[1].dev_name);
  EXPECT_EQ("/devroot/sg10", out[2].sg_name);
  EXPECT_EQ("/devroot/st3", out[2].dev_name);
  EXPECT_EQ("2:0:10", out[2].target_name);
  EXPECT_EQ(1u, out[2].lun);
}

TEST_F(Sysfs_Tree, MissingTreeFailsWithReason) {
  std::vector<Device_Entry> out;
  std::string error;
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

  // "[H:C:T:L]  type  vendor model rev  st-or-dash  sg"
  std::map<std::string, std::pair<std::string, std::string>> theirs;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::vector<std::string> w;
    for (std::string s; f >> s;) w.push_back(s);
    ASSERT_GE(w.size(), 3u) << line;
    std::string hctl = w[0].substr(1, w[0].size() - 2);
    theirs[hctl] = {w[w.size() - 2], w[w.size() - 1]};
  }
  std::vector<Device_Entry> ours;
  ASSERT_TRUE(list_sysfs_devices(root_.string(), "/dev", ours, nullptr));
  ASSERT_EQ(theirs.size(), ours.size());
  for (const Device_Entry& e : ours) {
    std::string hctl = e.target_name + ":" + std::to_string(e.lun);
    ASSERT_TRUE(theirs.count(hctl)) << hctl;
    EXPECT_EQ(theirs[hctl].second, e.sg_name);
    EXPECT_EQ(theirs[hctl].first, e.dev_name.empty() ? "-" : e.dev_name);
  }
}

// Tape names open the generic device of the same unit: with only the sg
// node present under the /dev root, opening the tape names must work.
TEST_F(Sysfs_Tree, TapeNamesOpenTheGenericDevice) {
  device("0:0:1:0", 1, "sg1", "st0");
  fs::path dev = root_ / "dev";
  write(dev / "sg1", "");
  Sysfs_Device_Provider provider(root_.string(), dev.string());
  std::string error;
  EXPECT_TRUE(provider.open((dev / "nst0").string(), &error)) << error;
  EXPECT_TRUE(provider.open((dev / "st0").string(), &error)) << error;
  EXPECT_TRUE(provider.open((dev / "sg1").string(), &error)) << error;
  EXPECT_FALSE(provider.open((dev / "nst1").string(), &error));
  EXPECT_FALSE(error.empty());
  // Mode variants of the tape driver's nodes name the same unit.
  EXPECT_TRUE(provider.open((dev / "nst0a").string(), &error)) << error;
  EXPECT_TRUE(provider.open((dev / "st0l").string(), &error)) << error;
}

// A tape name the listing does not know is opened by its non-rewinding
// node, whose close leaves the tape where it is: with only "nst5" present,
// "st5" opens.
TEST_F(Sysfs_Tree, UnlistedTapeNamesOpenTheNonRewindingNode) {
  fs::path dev = root_ / "dev";
  write(dev / "nst5", "");
  write(dev / "nst5m", "");
  Sysfs_Device_Provider provider(root_.string(), dev.string());
  std::string error;
  EXPECT_TRUE(provider.open((dev / "st5").string(), &error)) << error;
  EXPECT_TRUE(provider.open((dev / "st5m").string(), &error)) << error;
  EXPECT_TRUE(provider.open((dev / "nst5").string(), &error)) << error;
  EXPECT_FALSE(provider.open((dev / "st6").string(), &error));
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
  EXPECT_EQ("/dev/nst0", non_rewinding_name("/dev/st0"));
  EXPECT_EQ("/x/y/nst12", non_rewinding_name("/x/y/st12"));
  EXPECT_EQ("/dev/nst0", non_rewinding_name("/dev/nst0"));
  EXPECT_EQ("/dev/sg3", non_rewinding_name("/dev/sg3"));
  EXPECT_EQ("/dev/st", non_rewinding_name("/dev/st"));
  EXPECT_EQ("/dev/nst0a", non_rewinding_name("/dev/st0a"));
  EXPECT_EQ("/dev/nst0m", non_rewinding_name("/dev/nst0m"));
  EXPECT_EQ("/dev/st0x", non_rewinding_name("/dev/st0x"));
  EXPECT_EQ("/dev/sta", non_rewinding_name("/dev/sta"));
  EXPECT_EQ("", non_rewinding_name(""));
}

}  // namespace
}  // namespace scsi
}  // namespace d2t
