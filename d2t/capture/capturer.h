// Reading a changer and its drives with read-only commands into a Capture.
//
// Every command goes through Recorder::send, which consults the command
// table (command_table.h) and refuses anything outside it without sending.
// What is read:
//   every device: standard INQUIRY, VPD page 0x00 and every page it lists;
//   a changer: MODE SENSE(6) pages 0x1D, 0x1E and 0x1F, then READ ELEMENT
//     STATUS of each element type with VolTag, once with DVCID and once
//     without, in the requests the device layer makes (at most
//     ELEMENTS_PER_REQUEST elements and 64 KiB each, a long report
//     continued from the element after the last complete descriptor).
// A CHECK CONDITION without sense is completed by REQUEST SENSE; a unit
// attention is recorded and the command asked again (up to 3 times).
#ifndef D2T_CAPTURE_CAPTURER_H
#define D2T_CAPTURE_CAPTURER_H

#include <cstdint>
#include <string>
#include <vector>

#include "d2t/capture/capture_file.h"
#include "d2t/scsi/cdb.h"
#include "d2t/scsi/transport.h"

namespace d2t {
namespace capture {

// The device layer's element status budget (d2t/tools/changer_access.cpp):
// elements per request, bytes reserved per descriptor and for the headers,
// and the largest transfer.
enum : std::size_t {
  ELEMENTS_PER_REQUEST = 1000,
  DESCRIPTOR_ROOM = 12 + 36 + 4 + 64,
  HEADER_ROOM = 8 + 8,
  MAX_TRANSFER = 64 * 1024
};

// Sends allowed commands to one device and records each exchange.
class Recorder {
 public:
  Recorder(d2t::scsi::Transport& transport, Device_Capture& out)
      : transport_(transport), out_(out) {}
  // Sends `cdb` with a data-in buffer of `allocation` bytes when the
  // command table allows it, records the exchange and gives it back in
  // `reply`. False when the command was refused (nothing sent) or could
  // not be carried (operating system or transport error, not recorded;
  // `error` says which).
  bool send(const d2t::scsi::Cdb& cdb, std::size_t allocation, Exchange& reply, std::string* error);

 private:
  bool submit(const d2t::scsi::Cdb& cdb, std::size_t allocation, Exchange& reply,
              std::string* error);
  d2t::scsi::Transport& transport_;
  Device_Capture& out_;
};

// Standard INQUIRY and every VPD page. False (with `error`) only when the
// standard INQUIRY could not be read at all.
bool capture_identity(Recorder& r, std::string* error);

// Identity, mode pages and element status of a changer.
bool capture_changer(Recorder& r, std::string* error);

// The whole capture of the changer `device` (any name the provider
// opens) and, when `drives` is set, of every tape drive `provider` lists
// (a drive that cannot be read is left out and named in `warnings`).
// False with `error` set when the changer cannot be read.
bool capture_devices(d2t::scsi::Device_Provider& provider, const std::string& device, bool drives,
                     Capture& out, std::string& error, std::vector<std::string>* warnings);

// Sets each drive's element_address from the changer's recorded device
// identifiers (a data transfer element whose identifier names the drive's
// serial number). Drives no identifier names keep theirs.
void locate_drives(Capture& capture);

}  // namespace capture
}  // namespace d2t

#endif
