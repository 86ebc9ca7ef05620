// The emulated devices: command dispatchers for a medium changer and for a
// tape drive of a Library.
#ifndef D2T_EMULATOR_TARGETS_H
#define D2T_EMULATOR_TARGETS_H

#include <cstdint>
#include <memory>
#include <string>

#include "d2t/emulator/library.h"
#include "d2t/emulator/spc.h"

namespace d2t {
namespace emulator {

// SMC commands: TEST UNIT READY, INQUIRY, REPORT LUNS, MODE SENSE(6)/(10)
// pages 0x1D, 0x1F and 0x3F, READ ELEMENT STATUS, MOVE MEDIUM,
// INITIALIZE ELEMENT STATUS (with range), PREVENT ALLOW MEDIUM REMOVAL.
std::unique_ptr<Target> make_changer_target(std::shared_ptr<Library> library,
                                            const std::string& changer_serial);

// SSC commands: TEST UNIT READY, INQUIRY, REPORT LUNS, LOAD UNLOAD, REWIND,
// READ BLOCK LIMITS, MODE SENSE(6)/(10) (block descriptor only),
// READ ATTRIBUTE, PREVENT ALLOW MEDIUM REMOVAL.
std::unique_ptr<Target> make_drive_target(std::shared_ptr<Library> library,
                                          const std::string& changer_serial,
                                          std::uint32_t drive);

}  // namespace emulator
}  // namespace d2t

#endif
