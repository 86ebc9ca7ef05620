// Decoders of identity data: standard INQUIRY, the unit serial number
// page and a tape drive's block limits.
// Pure functions over a response buffer; `len` is the number of bytes
// actually received. On false the outputs are unchanged.
#ifndef D2T_SCSI_INQUIRY_H
#define D2T_SCSI_INQUIRY_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace d2t {
namespace scsi {

enum : std::uint8_t {
  PERIPHERAL_TAPE = 0x01,
  PERIPHERAL_CHANGER = 0x08,
};

struct Inquiry_Data {
  std::uint8_t peripheral_type = 0;  // byte 0, bits 0-4
  std::string vendor;                // bytes 8-15, trimmed
  std::string product;               // bytes 16-31, trimmed
  std::string revision;              // bytes 32-35, trimmed
};

// Needs at least the 36 bytes of the standard data.
bool parse_inquiry(const std::uint8_t* data, std::size_t len, Inquiry_Data& out);

// VPD page 0x80: the serial number, trimmed. False when the page code is
// not 0x80 or the page length runs past the received data.
bool parse_unit_serial(const std::uint8_t* data, std::size_t len, std::string& serial);

// READ BLOCK LIMITS data: largest (bytes 1-3) and smallest (bytes 4-5)
// block length. Needs 6 bytes.
bool parse_block_limits(const std::uint8_t* data, std::size_t len, std::uint32_t& max_block,
                        std::uint32_t& min_block);

}  // namespace scsi
}  // namespace d2t

#endif
