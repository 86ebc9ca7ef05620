// A command outcome in words, for the log lines that say why a device
// operation failed: the sense key and the additional sense code and
// qualifier by name, or the transport or operating-system error.
// Pure text: no I/O.
#ifndef D2T_SCSI_SENSE_TEXT_H
#define D2T_SCSI_SENSE_TEXT_H

#include <cstdint>
#include <string>

#include "d2t/scsi/sense.h"

namespace d2t {
namespace scsi {

// "NOT READY", "HARDWARE ERROR", ...; "sense key 0xN" for others.
std::string sense_key_name(std::uint8_t key);
// The name of an additional sense code and qualifier met on tape drives
// and medium changers ("medium not present", "medium source element
// empty", ...); "" when not in the table.
const char* asc_name(std::uint8_t asc, std::uint8_t ascq);
// The whole outcome, e.g.
//   "sense NOT READY, medium not present (02/3A/00)"
//   "sense ILLEGAL REQUEST (05/99/01)"
//   "transport error (host status 0x07, driver status 0x00)"
//   "operating system error: Permission denied (errno 13)"
//   "status BUSY (0x08)"
std::string explain(const Result& r);

}  // namespace scsi
}  // namespace d2t

#endif
