// Helpers shared by the emulator tests: a temporary folder, files written
// whole, and a small library.
#ifndef D2T_EMULATOR_TESTS_TEST_SUPPORT_H
#define D2T_EMULATOR_TESTS_TEST_SUPPORT_H

#include <string>

#include "testing/temp_dir.h"

namespace d2t {
namespace emulator {
namespace testing_support {

using test_support::Temp_Dir;
using test_support::write_file;

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
