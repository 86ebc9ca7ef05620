// The seam between SCSI command code and whatever carries the commands:
// Linux SG_IO on real hardware, or the emulated library in process.
//
// A Transport executes one command on one opened device and reports the
// raw outcome; classifying it (OS error > transport > sense > status > good)
// is the caller's job. A Device_Provider lists the host's medium changers
// and tape drives and opens them by any of their names (sg name, tape name,
// non-rewinding tape name).
#ifndef D2T_SCSI_TRANSPORT_H
#define D2T_SCSI_TRANSPORT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace d2t {
namespace scsi {

enum class Direction { NONE, FROM_DEVICE, TO_DEVICE };

struct Command {
  const std::uint8_t* cdb = nullptr;
  std::size_t cdb_len = 0;
  Direction direction = Direction::NONE;
  std::uint8_t* data = nullptr;  // data-in or data-out buffer
  std::size_t data_len = 0;
  unsigned timeout_ms = 60000;
};

struct Outcome {
  int os_errno = 0;                 // the submission itself failed (open, ioctl)
  int host_status = 0;              // transport trouble (SG_IO host_status)
  int driver_status = 0;            // SG_IO driver_status
  std::uint8_t status = 0;          // SCSI status byte (0 GOOD, 2 CHECK CONDITION)
  std::vector<std::uint8_t> sense;  // sense data when status is CHECK CONDITION
  std::size_t resid = 0;            // bytes of `data_len` not transferred
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Executes `cmd`; never throws. The outcome says what happened.
  virtual Outcome execute(const Command& cmd) = 0;
};

enum class Device_Kind { CHANGER, TAPE };

// One SCSI device as the host lists it.
struct Device_Entry {
  Device_Kind kind = Device_Kind::TAPE;
  std::string sg_name;      // e.g. "/dev/sg3"
  std::string dev_name;     // tape device, e.g. "/dev/st0"; empty for changers
  std::string target_name;  // "H:C:T" of the H:C:T:L address
  std::uint32_t lun = 0;
};

class Device_Provider {
 public:
  virtual ~Device_Provider() = default;
  // The changers and tape drives present now, ordered by sg name.
  virtual bool list(std::vector<Device_Entry>& out, std::string* error) = 0;
  // Opens a device by sg name, tape name or non-rewinding tape name.
  // Null with `error` set when it cannot be opened.
  virtual std::unique_ptr<Transport> open(const std::string& name, std::string* error) = 0;
};

}  // namespace scsi
}  // namespace d2t

#endif
