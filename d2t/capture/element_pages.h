// READ ELEMENT STATUS data split into its pages and raw descriptors, byte
// for byte as the device sent them. Pure; shared by d2t_capture (to know
// where to continue a long report) and the replayed changers.
#ifndef D2T_CAPTURE_ELEMENT_PAGES_H
#define D2T_CAPTURE_ELEMENT_PAGES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace d2t {
namespace capture {

// One element status page.
struct Raw_Page {
  std::uint8_t type = 0;                // element type code (byte 0)
  std::uint8_t flags = 0;               // byte 1: PVolTag 0x80, AVolTag 0x40
  std::uint16_t descriptor_length = 0;  // as announced in bytes 2-3
  // Bytes each descriptor really takes: the announced length, or, when a
  // report of one page does not divide by it, byte count / elements (some
  // changers announce a length that leaves out the device identifier).
  std::size_t stride = 0;
  std::vector<std::vector<std::uint8_t>> descriptors;  // complete ones only
};

struct Raw_Report {
  std::uint16_t first_address = 0;
  std::uint16_t available = 0;     // header: elements available
  std::uint32_t report_bytes = 0;  // header: byte count of report available
  std::vector<Raw_Page> pages;
};

// Splits `len` received bytes. Descriptors cut short by the allocation
// length are left out. False for data shorter than the 8-byte header or a
// page announcing a descriptor length below 12.
bool split_element_status(const std::uint8_t* data, std::size_t len, Raw_Report& out);

// The device identifier of a descriptor (after its volume tags, as the
// page flags announce them), cut to the bytes present; "" when none.
std::vector<std::uint8_t> descriptor_identifier(const std::vector<std::uint8_t>& d,
                                                std::uint8_t page_flags);

// The serial number a descriptor's device identifier carries
// (d2t::scsi::identifier_serial); "" when none or binary.
std::string descriptor_serial(const std::vector<std::uint8_t>& d, std::uint8_t page_flags);

// Whether a descriptor's device identifier names the drive whose unit
// serial number is `serial`, by the rule every caller uses
// (d2t/scsi/drive_naming.h).
bool descriptor_names(const std::vector<std::uint8_t>& d, std::uint8_t page_flags,
                      const std::string& serial);

// Address in the first two bytes of a descriptor.
inline std::uint16_t descriptor_address(const std::vector<std::uint8_t>& d) {
  return static_cast<std::uint16_t>(d.size() >= 2 ? (d[0] << 8 | d[1]) : 0);
}

}  // namespace capture
}  // namespace d2t

#endif
