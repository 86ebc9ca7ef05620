// Decoders of the vital product data pages that identify a device and
// place a tape drive in its library: supported pages (0x00), device
// identification (0x83), automation device serial number (0xB3) and data
// transfer device element address (0xB4). The unit serial number page
// (0x80) is in inquiry.h.
//
// Pure functions over a response buffer; `len` is the number of bytes
// actually received. Each checks the page code and takes the page length
// from bytes 2-3; a page whose length runs past the received data is
// refused. On false the outputs are unchanged.
#ifndef D2T_SCSI_VPD_H
#define D2T_SCSI_VPD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace d2t {
namespace scsi {

// VPD 0x00: the page codes the device lists, in the order listed.
bool parse_supported_pages(const std::uint8_t* data, std::size_t len,
                           std::vector<std::uint8_t>& pages);

// Designator types of VPD 0x83 (and identifier types of a DVCID
// descriptor, which use the same numbers).
enum : std::uint8_t {
  DESIGNATOR_VENDOR = 0,
  DESIGNATOR_T10 = 1,
  DESIGNATOR_EUI64 = 2,
  DESIGNATOR_NAA = 3,
};
// Code sets of a designator.
enum : std::uint8_t {
  CODE_SET_BINARY = 1,
  CODE_SET_ASCII = 2,
  CODE_SET_UTF8 = 3,
};

struct Designator {
  std::uint8_t code_set = 0;     // byte 0, bits 0-3
  std::uint8_t type = 0;         // byte 1, bits 0-3
  std::uint8_t association = 0;  // byte 1, bits 4-5: 0 logical unit, 1 port, 2 target
  std::string value;             // the designator's bytes, untrimmed
};

// VPD 0x83: every designator that lies whole inside the page, in page
// order. False when a designator's length runs past the page.
bool parse_device_identification(const std::uint8_t* data, std::size_t len,
                                 std::vector<Designator>& out);

// VPD 0xB3: the serial number of the automation device (library) that
// holds the drive, trimmed of blanks and NULs.
bool parse_automation_serial(const std::uint8_t* data, std::size_t len, std::string& serial);

// VPD 0xB4: the drive's data transfer element address in that library, a
// big-endian number over bytes 4 to the page's end. False when the field
// is empty, longer than 8 bytes, or names an address beyond 0xFFFF.
bool parse_element_address(const std::uint8_t* data, std::size_t len, std::uint16_t& address);

}  // namespace scsi
}  // namespace d2t

#endif
