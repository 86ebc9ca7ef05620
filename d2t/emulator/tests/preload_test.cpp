// The standard Linux SCSI tools (mtx, sg3-utils), unmodified, on the
// emulated library through the preload library; what they print must
// match the emulator's truth, before and after moves made by either side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/library.h"
#include "test_support.h"

namespace d2t {
namespace emulator {
namespace {

using testing_support::small_library;
using testing_support::Temp_Dir;
using testing_support::write_file;

const std::string PRELOAD = std::string(D2T_BINARY_DIR) + "/lib/libd2t_preload.so";

struct Tool_Run {
  int status = -1;
  std::string out;
};

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

  // Runs a tool with the emulator preloaded; stdout and stderr together.
  Tool_Run tool(const std::string& args) {
    std::string cmd = "LD_PRELOAD='" + PRELOAD + "' D2T_EMULATOR='" + file_ + "' " + args + " 2>&1";
    Tool_Run r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }

  // What `mtx status` shows: "s<slot>" / "d<drive>" -> tag ("" when untagged).
  std::map<std::string, std::string> mtx_status() {
    Tool_Run r = tool("mtx -f /dev/sg5 status");
    EXPECT_EQ(r.status, 0) << r.out;
    std::map<std::string, std::string> out;
    std::regex drive(
        R"(Data Transfer Element (\d+):Full \(Storage Element (\d+) Loaded\)(:VolumeTag = (\S*))?)");
    std::regex slot(R"(Storage Element (\d+)( IMPORT/EXPORT)?:Full( :VolumeTag=(\S*))?)");
    std::istringstream in(r.out);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
      if (std::regex_search(line, m, drive))
        out["d" + m[1].str()] = m[4].str();
      else if (std::regex_search(line, m, slot))
        out["s" + m[1].str()] = m[4].str();
    }
    return out;
  }

  std::map<std::string, std::string> truth() {
    std::vector<Cartridge_Info> all;
    EXPECT_TRUE(lib_->cartridges(all, nullptr));
    std::map<std::string, std::string> out;
    for (const Cartridge_Info& c : all)
      out[c.place == Place::DRIVE ? "d" + std::to_string(c.drive) : "s" + std::to_string(c.slot)] =
          c.barcode;
    return out;
  }

  Temp_Dir dir_;
  std::string file_ = dir_.file("library.json");
  std::shared_ptr<Library> lib_;
};

TEST_F(Preload_Test, MtxStatusAndMovesAgreeWithTheTruth) {
  EXPECT_EQ(mtx_status(), truth());
  Tool_Run r = tool("mtx -f /dev/sg5 status");
  EXPECT_NE(r.out.find("2 Drives, 12 Slots ( 2 Import/Export )"), std::string::npos) << r.out;

  r = tool("mtx -f /dev/sg5 load 1 0");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(truth()["d0"], "T00001L9");
  r = tool("mtx -f /dev/sg5 transfer 2 5");
  EXPECT_EQ(r.status, 0) << r.out;
  r = tool("mtx -f /dev/sg5 transfer 3 11");  // into the first porter slot
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(mtx_status(), truth());
  EXPECT_EQ(truth()["s11"], "CLN001L1");

  // A move made by the emulator's own side shows in mtx.
  ASSERT_EQ(lib_->move_medium("LIB-1", STORAGE_BASE + 4, DRIVE_BASE + 1), sense::OK);
  auto seen = mtx_status();
  EXPECT_EQ(seen["d1"], "T00002L9");
  EXPECT_EQ(seen, truth());

  r = tool("mtx -f /dev/sg5 unload 1 0");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(truth()["s1"], "T00001L9");
  // Refused moves fail in mtx and change nothing.
  auto before = truth();
  r = tool("mtx -f /dev/sg5 load 6 0");
  EXPECT_NE(r.status, 0) << r.out;
  r = tool("mtx -f /dev/sg5 transfer 1 11");
  EXPECT_NE(r.status, 0) << r.out;
  EXPECT_EQ(truth(), before);
}

TEST_F(Preload_Test, Sg3UtilsIdentifyTheDevicesAndTheirReadiness) {
  Tool_Run r = tool("sg_inq /dev/sg5");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("medium changer"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("EMUVEND"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("LIBMODEL"), std::string::npos) << r.out;
  r = tool("sg_vpd -p sn /dev/nst1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Unit serial number: DRV-A"), std::string::npos) << r.out;
  r = tool("sg_inq /dev/st0");
  EXPECT_NE(r.out.find("tape"), std::string::npos) << r.out;

  r = tool("sg_turs /dev/sg7");
  EXPECT_NE(r.status, 0) << r.out;  // no cartridge
  ASSERT_EQ(lib_->move_medium("LIB-1", STORAGE_BASE, DRIVE_BASE), sense::OK);
  r = tool("sg_turs /dev/sg7");
  EXPECT_EQ(r.status, 0) << r.out;
  // Other paths are untouched by the preload library.
  r = tool("sg_inq /dev/sg4093");
  EXPECT_NE(r.status, 0);
}

}  // namespace
}  // namespace emulator
}  // namespace d2t
