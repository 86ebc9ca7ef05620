// The device side of a replayed changer and of its drives (replay.h).
#ifndef D2T_EMULATOR_REPLAY_TARGET_H
#define D2T_EMULATOR_REPLAY_TARGET_H

#include <memory>
#include <string>

#include "d2t/emulator/library.h"
#include "d2t/emulator/replay.h"
#include "d2t/emulator/spc.h"

namespace d2t {
namespace emulator {

// INQUIRY and MODE SENSE answered from the capture; READ ELEMENT STATUS
// built from the recorded descriptors and the state (replay.h); MOVE
// MEDIUM between recorded addresses through the library (faults, timing
// and state as for any emulated changer; the transport must be a recorded
// transport address); TEST UNIT READY, INITIALIZE ELEMENT STATUS (WITH
// RANGE), PREVENT ALLOW MEDIUM REMOVAL succeed; REPORT LUNS; anything else
// is an invalid operation code.
std::unique_ptr<Target> make_replay_changer_target(std::shared_ptr<Library> library,
                                                   const std::string& changer_serial,
                                                   std::shared_ptr<const Replay_Changer> replay);

// A drive with its recorded identity: INQUIRY from the capture, every
// other command by `drive` (the emulated drive).
std::unique_ptr<Target> make_replay_drive_target(std::unique_ptr<Target> drive,
                                                 std::shared_ptr<const Replay_Identity> identity);

}  // namespace emulator
}  // namespace d2t

#endif
