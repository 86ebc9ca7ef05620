// READ ELEMENT STATUS data of an emulated changer, built from its state.
#ifndef D2T_EMULATOR_ELEMENT_REPORT_H
#define D2T_EMULATOR_ELEMENT_REPORT_H

#include <cstdint>
#include <vector>

#include "d2t/emulator/config.h"
#include "d2t/emulator/state.h"

namespace d2t {
namespace emulator {

struct Element_Request {
  std::uint8_t type = 0;        // 0 all, 1 transport, 2 storage, 3 porter, 4 drive
  std::uint16_t start = 0;      // first element address wanted
  std::uint16_t count = 0xFFFF; // at most this many elements
  bool volume_tags = false;     // VolTag: 36-byte primary volume tags
  bool device_ids = false;      // DVCID: identifiers in drive descriptors
};

// The full report: header, then one page per element type, elements in
// address order from the first address >= start. Drive descriptors with
// device ids (asked for, and the changer's "dvcid" is "t10" or "serial")
// carry code set ASCII and either type 1 (T10 vendor id: vendor (8),
// product (16), identifier) or type 0 (the identifier alone); the
// identifier is the drive's "element_identifier" when given, else its
// serial, space-padded to the longest of the changer's drives. Volume
// tags are space padded; empty elements and unreadable labels give zeros. Cutting
// it to the allocation length is the caller's job; the header keeps the
// full byte count. An unknown element type gives an empty vector.
std::vector<std::uint8_t> build_element_status(const Changer_Config& config,
                                               const Changer_State& state,
                                               const Element_Request& request);

// MODE SENSE page 0x1D (element address assignment), 20 bytes.
std::vector<std::uint8_t> element_address_page(const Changer_State& state);
// MODE SENSE page 0x1F (device capabilities), 20 bytes.
std::vector<std::uint8_t> capabilities_page();

}  // namespace emulator
}  // namespace d2t

#endif
