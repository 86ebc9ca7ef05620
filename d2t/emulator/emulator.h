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
std::unique_ptr<d2t::scsi::Device_Provider> make_provider(
    const std::string& library_file, std::string* error);

}  // namespace emulator
}  // namespace d2t

#endif
