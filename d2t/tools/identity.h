// What a library and the host's tape drives say about which drive is
// which, read without moving a cartridge. Part of the device utility
// library (tools.h): nothing here logs, failures are returned.
#ifndef D2T_TOOLS_IDENTITY_H
#define D2T_TOOLS_IDENTITY_H

#include <cstdint>
#include <string>
#include <vector>

namespace d2t {
namespace tools {

// The changer's identifier of one data transfer element (READ ELEMENT
// STATUS with DVCID).
struct Element_Identity {
  std::uint32_t drive_number = 0;  // 0-based, element order (tools.h numbering)
  std::uint16_t address = 0;       // the element's address
  std::uint8_t code_set = 0;       // 1 binary, 2 ASCII, 3 UTF-8 (0 taken as text)
  std::uint8_t id_type = 0;        // 0 vendor specific, 1 T10 vendor id, 2 EUI-64, 3 NAA
  std::string identifier;          // the identifier's bytes as sent; empty: none
  std::string serial;              // text identifier's serial (type 1: the serial
                                   // field), trimmed; empty for a binary one
};

// One identifier of a host tape drive (VPD 0x83 designator).
struct Drive_Designator {
  std::uint8_t code_set = 0;
  std::uint8_t type = 0;
  std::string value;  // bytes as sent
};

// What a host tape drive says about itself.
struct Drive_Identity {
  std::string unit_serial;                    // VPD 0x80, trimmed; empty when not read
  std::vector<Drive_Designator> designators;  // VPD 0x83, when listed in VPD 0x00
  // VPD 0xB3 and 0xB4, when the drive lists and answers both: the serial
  // number of the library that holds it and its element address there.
  bool placed = false;
  std::string automation_serial;
  std::uint16_t element_address = 0;
};

// The identifier of every data transfer element of the changer, in element
// order (one entry per element; `identifier` empty when the changer gives
// none). A changer that refuses DVCID (ILLEGAL REQUEST, invalid field in
// CDB) is asked again without it: then every identifier is empty. False
// when the changer cannot be opened or its element status read.
bool changer_identities(const std::string& changer_sg, std::vector<Element_Identity>& out);

// Reads VPD 0x00, 0x80, and (when listed in 0x00) 0x83, 0xB3 and 0xB4 of
// the drive `device` (any of its names). Pages that are not listed or not
// answered leave their fields empty. False only when the device cannot be
// opened or answers none of 0x00 and 0x80.
bool drive_identity(const std::string& device, Drive_Identity& out);

}  // namespace tools
}  // namespace d2t

#endif
