// Decoder of READ ATTRIBUTE (ATTRIBUTE VALUES) data: the medium auxiliary
// memory attributes of a loaded cartridge.
#ifndef D2T_SCSI_ATTRIBUTES_H
#define D2T_SCSI_ATTRIBUTES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace d2t {
namespace scsi {

// Attribute identifiers this library reads.
enum : std::uint16_t {
  MAM_REMAINING_CAPACITY = 0x0000,  // MiB, 8 bytes
  MAM_MAXIMUM_CAPACITY = 0x0001,    // MiB, 8 bytes
  MAM_MEDIUM_TYPE = 0x0408,         // 1 byte; 1 = cleaning cartridge
  MAM_BARCODE = 0x0806,             // ASCII, 32 bytes, space padded
};

struct Attribute {
  std::uint16_t id = 0;
  std::uint8_t format = 0;              // 0 binary, 1 ASCII, 2 text
  const std::uint8_t* value = nullptr;  // points into the parsed buffer
  std::size_t length = 0;
};

// Splits the data into attributes (pointers into `data`). The 4-byte
// header gives the length of the attribute list; a list longer than the
// received data keeps the complete attributes (the device had more than
// the buffer held). False for a header shorter than 4 bytes or an
// attribute header cut in the middle of the announced list when the
// list fits the data.
bool parse_attributes(const std::uint8_t* data, std::size_t len, std::vector<Attribute>& out);

// A binary attribute of 1 to 8 bytes as an unsigned number. False for
// another format or length.
bool attribute_number(const Attribute& a, std::uint64_t& value);

}  // namespace scsi
}  // namespace d2t

#endif
