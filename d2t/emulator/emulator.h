// The emulated tape library as a SCSI device provider.
//
// make_provider() opens a library file (JSON; see library.h for its keys)
// and returns a Device_Provider whose devices answer SCSI commands the way
// an SMC medium changer and SSC tape drives do. Cartridge positions live in
// a state file shared by every process that opens the same library file.
//
// Element addresses reported by the emulated changers (MODE SENSE page 0x1D
// carries the same map):
//   medium transport   0x0000            (one element)
//   data transfer      0x0100 + drive    (drive = 0-based, element order)
//   import/export      0x0400 + porter   (porter = 0-based)
//   storage            0x1000 + slot - 1 (slot = 1-based)
// Initiators number drives 0-based in data-transfer element order and slots
// 1-based over storage elements followed by import/export elements.
//
// Answers (fixed-format sense, key/asc/ascq):
//   MOVE MEDIUM: 05/3B/0E source empty, 05/3B/0D destination full,
//     05/21/01 invalid element address; moving a drive's loaded tape out is
//     accepted (the library ejects it first, taking unload_ms).
//   Drive TEST UNIT READY: 02/3A/00 no cartridge, 02/04/02 cartridge
//     ejected but still in the drive, 02/04/01 until load_ms after the
//     load, then 06/28/00 once per load (per process), 02/30/03 for a
//     cleaning cartridge, else GOOD.
//   Injected faults: 0B/00/00, or 04/44/00 when "hardware" is true.
//   Unsupported commands: 05/20/00; bad CDB fields: 05/24/00.
//   READ ELEMENT STATUS: volume tags space padded (zero for empty elements
//     and unreadable labels); with DVCID, drive descriptors carry a T10
//     vendor id identifier: vendor (8), product (16), serial number.
//   READ ATTRIBUTE: 0x0000/0x0001 capacity in MiB (absent when unknown),
//     0x0400 manufacturer, 0x0408 medium type (1 cleaning), 0x0806 barcode.
#ifndef D2T_EMULATOR_EMULATOR_H
#define D2T_EMULATOR_EMULATOR_H

#include <memory>
#include <string>

#include "d2t/scsi/transport.h"

namespace d2t {
namespace emulator {

// A provider over the library file `library_file`. Null with `error` set
// when the file cannot be read or describes an impossible library.
// list() gives one entry per changer and per drive ordered by the numeric
// order of their sg names; open() accepts a device's sg name, its tape name
// (/dev/stN) and its non-rewinding tape name (/dev/nstN). The provider and
// its transports may be used from several threads.
// Tests that need a fake clock build an Emulated_Provider (provider.h) on a
// Library opened with one (library.h).
std::unique_ptr<d2t::scsi::Device_Provider> make_provider(
    const std::string& library_file, std::string* error);

}  // namespace emulator
}  // namespace d2t

#endif
