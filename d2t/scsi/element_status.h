// Decoders of a medium changer's element address assignment (mode page
// 0x1D) and of READ ELEMENT STATUS data. Pure functions over a response
// buffer; `len` is the number of bytes actually received.
#ifndef D2T_SCSI_ELEMENT_STATUS_H
#define D2T_SCSI_ELEMENT_STATUS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "d2t/scsi/cdb.h"

namespace d2t {
namespace scsi {

// First address and count of each element type.
struct Element_Map {
  std::uint16_t transport_first = 0, transport_count = 0;
  std::uint16_t storage_first = 0, storage_count = 0;
  std::uint16_t import_export_first = 0, import_export_count = 0;
  std::uint16_t data_transfer_first = 0, data_transfer_count = 0;
};

// MODE SENSE(6) data holding page 0x1D (after the 4-byte header and any
// block descriptors). False when the page is missing, not 0x1D, or
// shorter than its 18 bytes.
bool parse_element_map(const std::uint8_t* data, std::size_t len, Element_Map& out);

// Medium type reported in byte 9 of a descriptor.
enum : std::uint8_t {
  MEDIUM_UNSPECIFIED = 0,
  MEDIUM_DATA = 1,
  MEDIUM_CLEANING = 2,
};

struct Element {
  Element_Type type = ELEMENT_STORAGE;
  std::uint16_t address = 0;
  bool full = false;
  bool import_export = false;  // ImpExp (import/export elements only)
  bool except = false;         // abnormal state, asc/ascq say why
  std::uint8_t asc = 0, ascq = 0;
  bool source_valid = false;
  std::uint16_t source = 0;  // valid when source_valid
  std::uint8_t medium_type = MEDIUM_UNSPECIFIED;
  std::string volume_tag;  // primary volume tag, trimmed; empty if none
  // Device identifier (DVCID), data transfer elements only. A text
  // identifier (code set 2 ASCII or 3 UTF-8) of type 1 (T10 vendor id) is
  // split into vendor (8), product (16) and serial (the rest, empty when
  // the identifier stops before it; code set 0 counts as text); a text
  // identifier of any other type
  // (0: vendor specific, usually the drive's serial number) is kept whole
  // in device_serial. Each part is trimmed of blanks and NULs. A binary
  // identifier (code set 1: EUI-64, NAA) leaves the three texts empty.
  std::string device_vendor, device_product, device_serial;
  // The identifier as sent: code set, identifier type and its bytes
  // (untrimmed). An identifier whose length runs past the descriptor is
  // cut at the descriptor's end; no identifier leaves device_id empty.
  std::uint8_t device_id_code_set = 0;
  std::uint8_t device_id_type = 0;
  std::string device_id;
};

struct Element_Report {
  std::uint16_t first_address = 0;  // from the header
  std::uint16_t available = 0;      // elements the device could report
  std::uint32_t report_bytes = 0;   // byte count of report available
  bool truncated = false;           // the device had more than the buffer held
};

// Decodes READ ELEMENT STATUS data and appends one Element per complete
// descriptor to `out`. Steps through each page by its own descriptor
// length. A report cut short by the allocation length (the header's byte
// count exceeds the data) keeps the complete descriptors and sets
// `truncated`. False (with `error` set, `out` restored to its size on
// entry) for a header shorter than 8 bytes, a page with descriptor length
// below 12 or shorter than its announced volume tags, an unknown element
// type, or more descriptors than the header's count.
bool parse_element_status(const std::uint8_t* data, std::size_t len, std::vector<Element>& out,
                          Element_Report& report, std::string* error);

}  // namespace scsi
}  // namespace d2t

#endif
