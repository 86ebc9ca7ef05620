// The capture file: what a changer and its drives answered to read-only
// commands, as d2t_capture writes it and the emulator replays it.
//
//   {"format": "d2t-capture/1", "changer": DEVICE, "drives": [DEVICE, ...]}
//   DEVICE = {"sg_name", "dev_name" (drives; "" if none), "target_name",
//             "lun", "element_address" (drives; optional, when known),
//             "exchanges": [{"cdb": "12 01 80 00 ff 00", "status": 0,
//                            "data": "hex bytes", "sense": "hex bytes"}]}
//
// Hex is written as pairs separated by single blanks; "status" is the SCSI
// status byte; "data" holds exactly the bytes the device returned.
#ifndef D2T_CAPTURE_CAPTURE_FILE_H
#define D2T_CAPTURE_CAPTURE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace d2t {
namespace capture {

extern const char FORMAT_NAME[];  // "d2t-capture/1"

using Bytes = std::vector<std::uint8_t>;

// One command and the device's answer.
struct Exchange {
  Bytes cdb;
  std::uint8_t status = 0;  // 0 GOOD, 2 CHECK CONDITION, ...
  Bytes data;               // data-in bytes actually transferred
  Bytes sense;              // sense bytes when status is CHECK CONDITION
};

struct Device_Capture {
  std::string sg_name;
  std::string dev_name;  // tape device of a drive; "" for a changer
  std::string target_name;
  std::uint32_t lun = 0;
  std::int32_t element_address = -1;  // drives: data transfer element, -1 unknown
  std::vector<Exchange> exchanges;
};

struct Capture {
  Device_Capture changer;
  std::vector<Device_Capture> drives;
};

// The unit serial number a device's recorded VPD page 0x80 holds, blanks
// and NULs trimmed; "" when none was recorded.
std::string recorded_serial(const Device_Capture& device);

// "12 01 80" from bytes; "" for none.
std::string to_hex(const Bytes& bytes);
// Reads hex pairs separated by blanks; false on anything else.
bool from_hex(const std::string& text, Bytes& out);

// The JSON text of a capture (indented, for an operator to read).
std::string write_capture(const Capture& capture);
// Parses capture text. False with `error` set on bad JSON, another format,
// a missing changer or malformed hex.
bool parse_capture(const std::string& text, Capture& out, std::string* error);
// Reads and parses a capture file.
bool load_capture(const std::string& path, Capture& out, std::string* error);

}  // namespace capture
}  // namespace d2t

#endif
