// Helpers shared by the emulator tests: a temporary folder and library
// files written into it.
#ifndef D2T_EMULATOR_TESTS_TEST_SUPPORT_H
#define D2T_EMULATOR_TESTS_TEST_SUPPORT_H

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace d2t {
namespace emulator {
namespace testing_support {

// A fresh folder under TMPDIR (or /tmp), removed with its content.
class Temp_Dir {
 public:
  Temp_Dir() {
    const char* base = ::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/d2t_emu_XXXXXX";
    char* made = ::mkdtemp(&pattern[0]);
    path_ = made ? made : "";
  }
  ~Temp_Dir() {
    if (!path_.empty()) {
      std::string cmd = "rm -rf '" + path_ + "'";
      if (::system(cmd.c_str()) != 0) {
      }
    }
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, const std::string& text) {
  // Written beside and renamed, as an operator's editor or a test would,
  // so readers never see half a file.
  std::string tmp = path + ".new";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << text;
  }
  ::rename(tmp.c_str(), path.c_str());
}

// A library with one changer "LIB-1" (/dev/sg5): `slots` storage slots,
// 2 porter slots, two drives DRV-A (/dev/sg7, /dev/st1) and DRV-B
// (/dev/sg6, /dev/st0), cartridges in slots 1-3 (slot 3 a cleaning
// cartridge), drive identifiers of type T10 in element status, and the
// given timing and extra changer keys.
inline std::string small_library(int slots = 10, const std::string& timing = "",
                                 const std::string& extra = "") {
  return std::string("{") + (timing.empty() ? "" : "\"timing\": " + timing + ",") +
         R"("changers": [{
    "serial_number": "LIB-1", "vendor": "EMUVEND", "model": "LIBMODEL",
    "target_name": "2:0:0", "lun": 0, "sg_name": "/dev/sg5",
    "storage_slots": )" + std::to_string(slots) + R"(, "porter_slots": 2, "dvcid": "t10",
    "drives": [
      {"serial_number": "DRV-A", "vendor": "EMUVEND", "model": "TAPEDRIVE",
       "target_name": "2:0:2", "lun": 0, "sg_name": "/dev/sg7", "dev_name": "/dev/st1"},
      {"serial_number": "DRV-B", "vendor": "EMUVEND", "model": "TAPEDRIVE",
       "target_name": "2:0:1", "lun": 0, "sg_name": "/dev/sg6", "dev_name": "/dev/st0"}
    ],
    "cartridges": [
      {"slot": 1, "barcode": "T00001L9", "capacity": 18000000000000},
      {"slot": 2, "barcode": "T00002L9", "capacity": 2097152},
      {"slot": 3, "barcode": "CLN001L1", "cleaning": true}
    ])" + extra + "}]}";
}

}  // namespace testing_support
}  // namespace emulator
}  // namespace d2t

#endif
