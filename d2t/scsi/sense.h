// Sense data: decoding (fixed and descriptor formats), building (for
// emulated devices and tests), and the classification of a command outcome
// in the order OS error > transport > sense > status > good.
#ifndef D2T_SCSI_SENSE_H
#define D2T_SCSI_SENSE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "d2t/scsi/transport.h"

namespace d2t {
namespace scsi {

enum Sense_Key : std::uint8_t {
  SK_NO_SENSE = 0x0,
  SK_RECOVERED_ERROR = 0x1,
  SK_NOT_READY = 0x2,
  SK_MEDIUM_ERROR = 0x3,
  SK_HARDWARE_ERROR = 0x4,
  SK_ILLEGAL_REQUEST = 0x5,
  SK_UNIT_ATTENTION = 0x6,
  SK_DATA_PROTECT = 0x7,
  SK_ABORTED_COMMAND = 0xB,
};

// SCSI status bytes.
enum : std::uint8_t {
  STATUS_GOOD = 0x00,
  STATUS_CHECK_CONDITION = 0x02,
  STATUS_BUSY = 0x08,
  STATUS_RESERVATION_CONFLICT = 0x18,
  STATUS_TASK_SET_FULL = 0x28,
};

struct Sense {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
};

// Decodes response codes 0x70/0x71 (fixed) and 0x72/0x73 (descriptor).
// False for empty, too short or unknown-format data; `out` is then
// unchanged. Fixed sense shorter than 14 bytes yields what it holds (the
// key needs 3 bytes; asc/ascq read as 0 when cut off); its additional
// sense length (byte 7) bounds the bytes read.
bool decode_sense(const std::uint8_t* data, std::size_t len, Sense& out);

// Fixed-format sense (18 bytes, response code 0x70).
std::vector<std::uint8_t> build_fixed_sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
// Descriptor-format sense (8 bytes, response code 0x72, no descriptors).
std::vector<std::uint8_t> build_descriptor_sense(std::uint8_t key, std::uint8_t asc,
                                                 std::uint8_t ascq);

enum class Failure {
  NONE,       // GOOD
  OS,         // the command could not be submitted (errno in os_errno)
  TRANSPORT,  // host or driver reported trouble
  SENSE,      // CHECK CONDITION with decodable sense
  STATUS,     // another non-GOOD status (BUSY, ...), or unreadable sense
};

// The classified outcome of one command.
struct Result {
  Failure failure = Failure::NONE;
  Sense sense;  // valid when failure == SENSE
  std::uint8_t status = 0;
  int os_errno = 0;
  std::size_t resid = 0;
  bool ok() const { return failure == Failure::NONE; }
  bool is_sense(std::uint8_t key) const { return failure == Failure::SENSE && sense.key == key; }
  bool is_sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) const {
    return is_sense(key) && sense.asc == asc && sense.ascq == ascq;
  }
};

// Classifies a transport outcome. A CHECK CONDITION whose sense is
// RECOVERED ERROR or NO SENSE (without asc) counts as good.
Result classify(const Outcome& o);

// Short text for messages, e.g. "sense 02/3a/00", "os errno 19".
std::string describe(const Result& r);

}  // namespace scsi
}  // namespace d2t

#endif
