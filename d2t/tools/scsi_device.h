// One opened SCSI device of the device utility library, and the command
// helpers and retry policy shared by its operations. Internal header.
#ifndef D2T_TOOLS_SCSI_DEVICE_H
#define D2T_TOOLS_SCSI_DEVICE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "d2t/scsi/cdb.h"
#include "d2t/scsi/inquiry.h"
#include "d2t/scsi/sense.h"
#include "d2t/scsi/transport.h"
#include "d2t/tools/tools.h"

namespace d2t {
namespace tools {

// Command timeouts. Robot moves and tape loads/unloads take minutes on
// real hardware (an LTO drive needs up to a minute to unload, a large
// library longer to fetch a cartridge), element status of a big library
// can take a while after a door was opened.
enum : unsigned {
  TIMEOUT_QUICK_MS = 60 * 1000,
  TIMEOUT_ELEMENT_STATUS_MS = 10 * 60 * 1000,
  TIMEOUT_MOVE_MS = 15 * 60 * 1000,
  TIMEOUT_LOAD_UNLOAD_MS = 15 * 60 * 1000,
};

class Scsi_Device {
 public:
  // Opens `name` through the current provider; null with `error` set.
  static std::unique_ptr<Scsi_Device> open(const std::string& name, std::string* error);
  explicit Scsi_Device(std::unique_ptr<d2t::scsi::Transport> transport)
      : transport_(std::move(transport)) {}

  // A command without data.
  d2t::scsi::Result run(const d2t::scsi::Cdb& cdb, unsigned timeout_ms);
  // A command reading into `buf` (its size is the allocation length);
  // `received` is the byte count transferred.
  d2t::scsi::Result read(const d2t::scsi::Cdb& cdb, std::uint8_t* buf, std::size_t len,
                         std::size_t& received, unsigned timeout_ms);

 private:
  // Executes `cmd`; a CHECK CONDITION that came without sense data is
  // completed by REQUEST SENSE.
  d2t::scsi::Outcome execute(const d2t::scsi::Command& cmd);

  std::unique_ptr<d2t::scsi::Transport> transport_;
};

// Standard INQUIRY and unit serial number, each retried once after a
// unit attention.
d2t::scsi::Result inquiry(Scsi_Device& dev, d2t::scsi::Inquiry_Data& out);
d2t::scsi::Result unit_serial(Scsi_Device& dev, std::string& serial);

// Failure policy.
//
// Retried (after LOAD_UNLOAD_RETRY_INTERVAL seconds, `retries` more times):
// UNIT ATTENTION, NOT READY with asc 0x04 "becoming ready / in progress"
// (except 04/02, which needs a command), BUSY and TASK SET FULL status,
// transport errors. Not retried: everything else, ABORTED COMMAND included
// (a move the library aborted is reported rather than repeated blindly).
bool retriable(const d2t::scsi::Result& r);

// What a failed command of a load or unload means for the drive (the
// policy of tools.h): HARDWARE ERROR makes it faulty at once; for a MOVE
// MEDIUM (`move` true) an ILLEGAL REQUEST naming the source or the
// destination (3B/0E, 3B/0D, 21/01) says nothing about the drive; every
// other failure counts.
Blame blame_of(const d2t::scsi::Result& r, bool move);

// Runs `op` until it succeeds, fails in a way that is not retriable, or
// `retries` + 1 attempts were made; sleeps on the tools clock between
// attempts. A unit attention (the command was not run) is repeated at
// once, up to UNIT_ATTENTION_REPEATS times, without counting as a retry;
// further ones count without a sleep. Returns the last result.
enum { UNIT_ATTENTION_REPEATS = 3 };
d2t::scsi::Result with_retries(int retries, const std::function<d2t::scsi::Result()>& op);

}  // namespace tools
}  // namespace d2t

#endif
