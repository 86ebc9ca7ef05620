// Commands every emulated device answers alike (INQUIRY with its vital
// product data pages, REPORT LUNS) and the byte helpers the device
// dispatchers share.
#ifndef D2T_EMULATOR_SPC_H
#define D2T_EMULATOR_SPC_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "d2t/emulator/sense.h"

namespace d2t {
namespace emulator {

// One emulated device as INQUIRY describes it.
struct Device_Identity {
  std::uint8_t peripheral_type = 0;  // 0x08 changer, 0x01 tape
  bool removable = false;
  std::string vendor, product, revision, serial;
  std::uint32_t lun = 0;
  // A tape drive that tells where it sits: VPD 0xB3 (the serial number of
  // its library) and 0xB4 (its element address there).
  bool automation_vpd = false;
  std::string automation_serial;
  std::uint16_t element_address = 0;
};

// A device's answer to a command: GOOD with data-in bytes, or sense.
struct Reply {
  Sense_Code sense;
  std::vector<std::uint8_t> data;
};

// The device side of one command. REQUEST SENSE never reaches a Target:
// the transport answers it from the last sense it returned.
class Target {
 public:
  virtual ~Target() = default;
  virtual Reply execute(const std::uint8_t* cdb, std::size_t cdb_len,
                        const std::uint8_t* data_out, std::size_t out_len) = 0;
};

inline void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void put24(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 16);
  put16(p + 1, v);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, v >> 16);
  put16(p + 2, v);
}
inline void put64(std::uint8_t* p, std::uint64_t v) {
  put32(p, static_cast<std::uint32_t>(v >> 32));
  put32(p + 4, static_cast<std::uint32_t>(v));
}
inline std::uint32_t get16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 8 | p[1];
}
inline std::uint32_t get24(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 16 | get16(p + 1);
}
inline std::uint32_t get32(const std::uint8_t* p) {
  return get16(p) << 16 | get16(p + 2);
}

// Length of the CDB of `opcode` by its group code.
inline std::size_t cdb_length(std::uint8_t opcode) {
  if (opcode < 0x20) return 6;
  if (opcode < 0x60) return 10;
  if (opcode >= 0x80 && opcode < 0xA0) return 16;
  return 12;
}

// Writes `s` into `n` bytes at `p`, cut or padded with spaces.
void put_ascii(std::uint8_t* p, std::size_t n, const std::string& s);

// Cuts `data` to the allocation length.
void fit(std::vector<std::uint8_t>& data, std::size_t allocation);

// INQUIRY: standard data, or VPD pages 0x00, 0x80 (unit serial number)
// and 0x83 (a T10 vendor id designator: vendor, product, serial); with
// automation_vpd also 0xB3 and 0xB4 (listed in 0x00 too).
Reply inquiry(const Device_Identity& id, const std::uint8_t* cdb,
              std::size_t cdb_len);

// REPORT LUNS: the device's single logical unit.
Reply report_luns(const Device_Identity& id, const std::uint8_t* cdb,
                  std::size_t cdb_len);

// MODE SENSE(6)/(10) framing: the header (with `device_specific` and an
// optional 8-byte block descriptor) before `pages`, cut to the CDB's
// allocation length. `cdb[0]` selects the header size.
Reply mode_sense_reply(const std::uint8_t* cdb,
                       const std::vector<std::uint8_t>& block_descriptor,
                       std::uint8_t device_specific,
                       const std::vector<std::uint8_t>& pages);

}  // namespace emulator
}  // namespace d2t

#endif
