// Helpers shared by the emulator tests: a temporary folder, files written
// whole, a small library, where its cartridges are, and commands run on
// an emulated device.
#ifndef D2T_EMULATOR_TESTS_TEST_SUPPORT_H
#define D2T_EMULATOR_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "d2t/emulator/library.h"
#include "d2t/scsi/cdb.h"
#include "d2t/scsi/element_status.h"
#include "d2t/scsi/transport.h"
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
    "storage_slots": )" +
         std::to_string(slots) + R"(, "porter_slots": 2, "dvcid": "t10",
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
    ])" + extra +
         "}]}";
}

// Barcode -> where the emulator has it: "s3" (storage slot 3), "p11"
// (porter slot 11), "d0" (drive 0). A cartridge listed twice fails the test.
inline std::map<std::string, std::string> where(Library& lib) {
  std::vector<Cartridge_Info> all;
  std::string error;
  EXPECT_TRUE(lib.cartridges(all, &error)) << error;
  std::map<std::string, std::string> out;
  for (const Cartridge_Info& c : all) {
    std::string w = c.place == Place::DRIVE    ? "d" + std::to_string(c.drive)
                    : c.place == Place::PORTER ? "p" + std::to_string(c.slot)
                                               : "s" + std::to_string(c.slot);
    EXPECT_TRUE(out.emplace(c.barcode, w).second) << "twice: " << c.barcode;
  }
  return out;
}

using Bytes = std::vector<std::uint8_t>;

// What one command got back: status, sense, and the data received.
struct Answer {
  std::uint8_t status = 0;
  int os_errno = 0;
  Bytes data, sense;
  bool good() const { return status == 0 && os_errno == 0; }
  std::uint8_t key() const { return sense.size() > 2 ? sense[2] & 0x0F : 0; }
  std::uint8_t asc() const { return sense.size() > 12 ? sense[12] : 0; }
  std::uint8_t ascq() const { return sense.size() > 13 ? sense[13] : 0; }
  bool operator==(const Answer& o) const {
    return status == o.status && data == o.data && sense == o.sense;
  }
};

// Runs `cdb` on `t`, reading up to `alloc` bytes (none: no data phase).
inline Answer run(d2t::scsi::Transport& t, const Bytes& cdb, std::size_t alloc = 0) {
  Answer a;
  a.data.assign(alloc, 0xEE);
  d2t::scsi::Command cmd;
  cmd.cdb = cdb.data();
  cmd.cdb_len = cdb.size();
  cmd.direction = alloc ? d2t::scsi::Direction::FROM_DEVICE : d2t::scsi::Direction::NONE;
  cmd.data = alloc ? a.data.data() : nullptr;
  cmd.data_len = alloc;
  const d2t::scsi::Outcome o = t.execute(cmd);
  a.status = o.status;
  a.os_errno = o.os_errno;
  a.sense = o.sense;
  a.data.resize(alloc - o.resid);
  return a;
}

// The elements of a READ ELEMENT STATUS answer (the test fails when it
// does not decode); its header in `report` when given.
inline std::vector<d2t::scsi::Element> elements_of(const Answer& a,
                                                   d2t::scsi::Element_Report* report = nullptr) {
  std::vector<d2t::scsi::Element> out;
  d2t::scsi::Element_Report header;
  std::string error;
  EXPECT_TRUE(d2t::scsi::parse_element_status(a.data.data(), a.data.size(), out, header, &error))
      << error;
  if (report) *report = header;
  return out;
}

// READ ELEMENT STATUS and MOVE MEDIUM command blocks, as the initiator
// builds them.
inline Bytes bytes_of(const d2t::scsi::Cdb& c) { return Bytes(c.bytes, c.bytes + c.len); }
inline Bytes res_cdb(std::uint8_t type, bool voltag, bool dvcid, std::uint16_t start,
                     std::uint16_t count, std::uint32_t alloc) {
  return bytes_of(d2t::scsi::read_element_status_cdb(static_cast<d2t::scsi::Element_Type>(type),
                                                     start, count, voltag, dvcid, alloc));
}
inline Bytes move_cdb(std::uint16_t from, std::uint16_t to) {
  return bytes_of(d2t::scsi::move_medium_cdb(0, from, to));
}

}  // namespace testing_support
}  // namespace emulator
}  // namespace d2t

#endif
