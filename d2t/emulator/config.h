// The library file: what an emulated tape library looks like.
//
// A JSON object:
//   "state_file": path of the state file; relative paths are relative to
//       the library file's folder; default "<library file>.state".
//   "timing": {"move_ms", "load_ms", "unload_ms", "status_ms"}: simulated
//       mechanical time (status_ms: a READ ELEMENT STATUS, the robot
//       taking inventory); 0 (default) is instant.
//   "operation_log": path of a file to which every move, load, unload and
//       element status read is appended as one JSON line with its start
//       and end (operation_log.h); relative paths are relative to the
//       library file's folder; default none (nothing is recorded).
//   "changers": [ { "serial_number", "vendor", "model", "revision",
//       "target_name" ("H:C:T"), "lun", "sg_name", "storage_slots",
//       "porter_slots",
//       "dvcid": what READ ELEMENT STATUS with DVCID set gives in the drive
//           descriptors: "none" (default: the bit is ignored, no
//           identifier), "t10" (type 1: vendor, product, serial),
//           "serial" (type 0: the serial alone), "reject" (CHECK
//           CONDITION, ILLEGAL REQUEST, invalid field in CDB),
//       "automation_address_shift": n added to the element address every
//           drive reports in VPD 0xB4 (a library that numbers its elements
//           differently there than in its element status); default 0,
//       "drives": [ {"serial_number", "vendor", "model", "revision",
//                    "target_name", "lun", "sg_name", "dev_name",
//                    "automation_vpd": true lists and answers VPD 0xB3
//                        (the changer's serial) and 0xB4 (the drive's
//                        element address); default false,
//                    "element_identifier": text the changer reports as
//                        the drive's identifier instead of its serial,
//                    "attached": false makes the element a drive of
//                        another host: it holds cartridges and the changer
//                        reports it, but no host device is listed or
//                        opened for it and "sg_name" may be left out;
//                        default true} ],
//       "cartridges": [ {"slot": 1-based over storage then porter slots,
//                        or "drive": 0-based drive index,
//                        "barcode": "" for an unreadable label,
//                        "capacity": bytes (0/absent = unknown),
//                        "cleaning": bool} ],
//       "fill": {"cartridges": n, "barcode_prefix", "barcode_suffix",
//                "capacity"}: n generated cartridges <prefix><5 digits>
//                <suffix> in the lowest empty storage slots,
//       "faults": [ {"op": "mount"|"unmount"|"transfer"|"ready",
//                    "drive": drive serial, "changer": changer serial,
//                    "times": n, "hardware": bool} ] } ]
// A changer may have a "timing" of its own (same keys), which replaces the
// library's for it.
// A changer may instead be {"capture": FILE, ...}: a replayed capture
// (replay.h).
// Cartridges and fill only seed a new state; positions always come from
// the state file afterwards.
#ifndef D2T_EMULATOR_CONFIG_H
#define D2T_EMULATOR_CONFIG_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace d2t {
namespace emulator {

class Replay_Changer;   // replay.h
class Replay_Identity;  // replay.h

// Limits that keep every element inside the address map of emulator.h.
enum : std::uint32_t { MAX_DRIVES = 0x300, MAX_PORTER_SLOTS = 0xC00, MAX_STORAGE_SLOTS = 0xEFFF };

struct Timing {
  std::uint64_t move_ms = 0;
  std::uint64_t load_ms = 0;
  std::uint64_t unload_ms = 0;
  std::uint64_t status_ms = 0;
};

struct Drive_Config {
  std::string serial_number;
  std::string vendor = "EMULATED";
  std::string model = "LTO-9";
  std::string revision = "0100";
  std::string target_name = "0:0:0";
  std::uint32_t lun = 0;
  std::string sg_name;
  std::string dev_name;
  bool automation_vpd = false;
  // False for a drive that another host sees: the element exists, the
  // device does not (not listed, not opened).
  bool attached = true;
  bool has_element_identifier = false;  // "element_identifier" was given
  std::string element_identifier;
  // What the changer reports as this drive's identifier.
  const std::string& reported_identifier() const {
    return has_element_identifier ? element_identifier : serial_number;
  }
  // A drive of a replayed changer: its recorded INQUIRY answers. A drive
  // with an empty sg_name is an element without a device.
  std::shared_ptr<const Replay_Identity> replay_identity;
  // Whether this host lists and opens a device for the element.
  bool has_device() const { return attached && !sg_name.empty(); }
  // "/dev/stN" -> "/dev/nstN"; empty when dev_name has no "/st" part.
  std::string no_rewind_name() const;
};

struct Cartridge_Config {
  std::int32_t slot = 0;    // 1-based; 0 when placed in a drive
  std::int32_t drive = -1;  // 0-based drive index, or -1
  std::string barcode;
  std::uint64_t capacity = 0;
  bool cleaning = false;
  std::int32_t source_slot = 0;  // in a drive: 1-based slot it came from; 0 unknown
};

struct Fill_Config {
  std::uint32_t cartridges = 0;
  std::string barcode_prefix = "B";
  std::string barcode_suffix = "L9";
  std::uint64_t capacity = 0;
};

enum class Fault_Op { MOUNT, UNMOUNT, TRANSFER, READY };

// The changer's answer to DVCID (see "dvcid" above).
enum class Dvcid { NONE, T10, SERIAL, REJECT };

struct Fault_Config {
  Fault_Op op = Fault_Op::MOUNT;
  std::string drive;    // drive serial; empty matches any drive
  std::string changer;  // changer serial; empty matches any changer
  std::uint32_t times = 1;
  bool hardware = false;
};

struct Changer_Config {
  std::string serial_number;
  std::string vendor = "EMULATED";
  std::string model = "TAPE LIBRARY";
  std::string revision = "0100";
  std::string target_name = "0:0:0";
  std::uint32_t lun = 0;
  std::string sg_name;
  std::uint32_t storage_slots = 0;
  std::uint32_t porter_slots = 0;
  Dvcid dvcid = Dvcid::NONE;
  std::uint32_t automation_address_shift = 0;
  std::vector<Drive_Config> drives;
  std::vector<Cartridge_Config> cartridges;
  Fill_Config fill;
  std::vector<Fault_Config> faults;
  bool has_timing = false;  // "timing" given for this changer
  Timing timing;
  // Set for a changer given as {"capture": FILE}: served from the capture
  // (replay.h).
  std::shared_ptr<const Replay_Changer> replay;
};

struct Library_Config {
  std::string library_file;
  std::string state_file;     // resolved path
  std::string operation_log;  // resolved path; "" records nothing
  Timing timing;
  std::vector<Changer_Config> changers;
};

// Parses library file text. `library_file` resolves a relative state file.
// False with `error` set when the text is not a valid library description
// (bad JSON, missing serial or sg name, duplicate device names or serials,
// slot counts beyond the address map, a cartridge outside the library or
// two in one place, a duplicate barcode in one changer, an unknown fault
// op, an unknown "dvcid", a fill larger than the empty storage slots).
bool parse_library(const std::string& text, const std::string& library_file, Library_Config& out,
                   std::string* error);

// Reads and parses the file.
bool load_library(const std::string& library_file, Library_Config& out, std::string* error);

const char* fault_op_name(Fault_Op op);

// The simulated time of changer `c`: its own "timing", else the library's.
inline const Timing& timing_of(const Library_Config& lib, const Changer_Config& c) {
  return c.has_timing ? c.timing : lib.timing;
}

// Barcode of the n-th (0-based) generated cartridge: prefix, at least five
// digits, suffix.
std::string fill_barcode(const Fill_Config& fill, std::uint32_t n);

}  // namespace emulator
}  // namespace d2t

#endif
