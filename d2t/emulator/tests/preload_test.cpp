// The standard Linux SCSI tools (mtx, sg3-utils), unmodified, on the
// emulated library through the preload library; what they print must
// match the emulator's truth, before and after moves made by either side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/library.h"
#include "test_support.h"
#include "testing/child_process.h"

namespace d2t {
namespace emulator {
namespace {

using namespace testing_support;

const std::string PRELOAD = test_support::built_library("d2t_preload");

std::string find_program(const char* name) {
  for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
    std::string path = std::string(dir) + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return std::string();
}

class Preload_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (find_program("mtx").empty() || find_program("sg_inq").empty())
      GTEST_SKIP() << "mtx or sg3-utils not installed";
    ASSERT_EQ(::access(PRELOAD.c_str(), R_OK), 0) << PRELOAD;
    write_file(file_, small_library());
    lib_ = Library::open(file_, nullptr);
    ASSERT_TRUE(lib_);
  }

  // Runs a tool ("mtx -f /dev/sg5 status") with the emulator preloaded:
  // its output (stdout and stderr). The test fails unless it exits 0, or,
  // when it `fails`, unless it exits otherwise.
  std::string tool(const std::string& command, bool fails = false) {
    std::istringstream words(command);
    std::vector<std::string> argv;
    for (std::string w; words >> w;) argv.push_back(argv.empty() ? find_program(w.c_str()) : w);
    test_support::Child_Process p(argv, {"LD_PRELOAD=" + PRELOAD, "D2T_EMULATOR=" + file_});
    EXPECT_EQ(fails, p.exit_code() != 0) << command << ": " << p.output();
    return p.output();
  }

  // What `mtx status` shows, in the form of where().
  std::map<std::string, std::string> mtx_status() {
    const std::string text = tool("mtx -f /dev/sg5 status");
    std::map<std::string, std::string> out;
    std::regex drive(
        R"(Data Transfer Element (\d+):Full \(Storage Element (\d+) Loaded\)(:VolumeTag = (\S*))?)");
    std::regex slot(R"(Storage Element (\d+)( IMPORT/EXPORT)?:Full( :VolumeTag=(\S*))?)");
    std::istringstream in(text);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
      if (std::regex_search(line, m, drive))
        out[m[4].str()] = "d" + m[1].str();
      else if (std::regex_search(line, m, slot))
        out[m[4].str()] = (m[2].matched ? "p" : "s") + m[1].str();
    }
    return out;
  }

  Temp_Dir dir_;
  std::string file_ = dir_.file("library.json");
  std::shared_ptr<Library> lib_;
};

TEST_F(Preload_Test, MtxStatusAndMovesAgreeWithTheTruth) {
  EXPECT_EQ(mtx_status(), where(*lib_));
  const std::string status = tool("mtx -f /dev/sg5 status");
  EXPECT_NE(status.find("2 Drives, 12 Slots ( 2 Import/Export )"), std::string::npos) << status;

  tool("mtx -f /dev/sg5 load 1 0");
  EXPECT_EQ(where(*lib_)["T00001L9"], "d0");
  tool("mtx -f /dev/sg5 transfer 2 5");
  tool("mtx -f /dev/sg5 transfer 3 11");  // into the first porter slot
  EXPECT_EQ(mtx_status(), where(*lib_));
  EXPECT_EQ(where(*lib_)["CLN001L1"], "p11");

  // A move made by the emulator's own side shows in mtx.
  ASSERT_EQ(lib_->move_medium("LIB-1", STORAGE_BASE + 4, DRIVE_BASE + 1), sense::OK);
  auto seen = mtx_status();
  EXPECT_EQ(seen["T00002L9"], "d1");
  EXPECT_EQ(seen, where(*lib_));

  tool("mtx -f /dev/sg5 unload 1 0");
  EXPECT_EQ(where(*lib_)["T00001L9"], "s1");
  // Refused moves fail in mtx and change nothing.
  auto before = where(*lib_);
  tool("mtx -f /dev/sg5 load 6 0", true);
  tool("mtx -f /dev/sg5 transfer 1 11", true);
  EXPECT_EQ(where(*lib_), before);
}

TEST_F(Preload_Test, Sg3UtilsIdentifyTheDevicesAndTheirReadiness) {
  std::string out = tool("sg_inq /dev/sg5");
  for (const char* text : {"medium changer", "EMUVEND", "LIBMODEL"})
    EXPECT_NE(out.find(text), std::string::npos) << out;
  out = tool("sg_vpd -p sn /dev/nst1");
  EXPECT_NE(out.find("Unit serial number: DRV-A"), std::string::npos) << out;
  out = tool("sg_inq /dev/st0");
  EXPECT_NE(out.find("tape"), std::string::npos) << out;

  tool("sg_turs /dev/sg7", true);  // no cartridge
  ASSERT_EQ(lib_->move_medium("LIB-1", STORAGE_BASE, DRIVE_BASE), sense::OK);
  tool("sg_turs /dev/sg7");
  // Other paths are untouched by the preload library.
  tool("sg_inq /dev/sg4093", true);
}

}  // namespace
}  // namespace emulator
}  // namespace d2t
