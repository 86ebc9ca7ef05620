// The device utility library: listing and control of tape libraries and
// drives. Every operation returns true when done; failures carry no
// exception and are not logged here (the caller decides and logs).
//
// Devices are reached through a Device_Provider: the emulated library named
// by the environment variable D2T_EMULATOR when it is set, real hardware
// (sysfs + SG_IO) otherwise.
#ifndef D2T_TOOLS_TOOLS_H
#define D2T_TOOLS_TOOLS_H

#include <ace/Basic_Types.h>

#include <string>
#include <vector>

#include "d2t/util/changer.h"
#include "d2t/util/drive.h"
#include "d2t/util/media.h"

namespace d2t {

// The changers and drives present now with their current device names.
bool list_devices(std::vector<Changer_var>& changers, std::vector<Drive_var>& drives, bool rescan);
// Forgets cached device state (emulator state, listing caches).
bool refresh_devices();

namespace re {
// The tag names a cleaning cartridge ("CLN" prefix).
bool is_clean_media(const std::string& media_tag);
}  // namespace re

namespace tools {

// Numbering used by every operation: drive numbers are 0-based in the
// changer's data transfer element order; slot numbers are 1-based over the
// storage elements, followed by the import/export (porter) elements.
//
// Retries: `retries` more attempts of a command that failed in a passing
// way (unit attention, not ready while becoming ready, busy, transport
// error), LOAD_UNLOAD_RETRY_INTERVAL seconds apart. A unit attention says
// the command was not run: it is repeated at once, a few times, before any
// retry is spent, so `retries` 0 still survives a library reset. Other
// failures (aborted command, source empty, destination full, hardware
// error) are reported at once; but when an earlier attempt of a move lost
// its answer (transport error) and the next finds the source empty or the
// destination full, element status decides whether the move was made.
//
// Blame policy of mount and unmount (only the drive's own faults count
// against it):
//   Blame::FAULTY  the drive is faulty at once: HARDWARE ERROR sense.
//   Blame::COUNT   counts towards the drive's failure count: a drive that
//                  would not load or eject, or an answer that got lost on
//                  the way: ABORTED COMMAND, NOT READY, UNIT ATTENTION,
//                  MEDIUM ERROR (the cartridge rather than the drive, but
//                  the load did not happen), busy, time-outs, transport and
//                  OS errors, and any answer of the drive itself.
//   Blame::NONE    says nothing about the drive: the library answered that
//                  the request itself was wrong (ILLEGAL REQUEST naming the
//                  source or the destination: 3B/0E medium source element
//                  empty, 3B/0D medium destination element full, 21/01
//                  invalid element address), the changer could not be
//                  opened, or the request was refused
//                  here before any command was sent (unknown drive or slot
//                  number, a slot holding another cartridge than the one
//                  named).
enum class Blame { NONE, COUNT, FAULTY };

// One record per changer and per tape drive whose identity (INQUIRY and
// unit serial number) can be read; devices that do not answer are left
// out. Records have id 0, no null entries; drives carry their block limits
// when the drive reports them. Appends to the lists.
bool lsscsi(std::vector<Changer_var>& changers, std::vector<Drive_var>& drives);

// Fills changer.drives() (one per drive element, in element order, with
// drive_number 0-based, slot_number/media_tag when loaded, serial number
// when the changer reports device identifiers) and changer.medias() (one per
// storage then import/export element, slot numbers 1-based, tag, state
// MST_EMPTY or MST_FULL, porter flag). Replaces earlier contents.
bool changer_status(Changer& changer);

// Moves the cartridge of `slot` into drive `drive_number`. Refuses (false,
// Blame::NONE) when `media_tag` and the slot's volume tag are both known
// and differ. On false, `blame` says what the failure means for the drive
// (policy above); on true it is left alone.
bool mount(const std::string& changer_sg, ACE_UINT32 drive_number, ACE_INT32 slot,
           const std::string& media_tag, int retries, Blame& blame);
// The same with the older flag: on false, `count_failure` is false exactly
// when the drive is faulty at once (Blame::FAULTY).
bool mount(const std::string& changer_sg, ACE_UINT32 drive_number, ACE_INT32 slot,
           const std::string& media_tag, int retries, bool& count_failure);

// Ejects the cartridge of drive `drive_dev` (any of its names) and moves it
// from drive `drive_number` back to `slot`. When `drive_dev` cannot be
// opened, or answers with a serial number other than the one the changer
// reports for the drive element, nothing is ejected through it and the
// changer is left to unload the drive itself. An eject that fails (other
// than "no tape threaded") fails the unmount; it is the drive's own answer
// (COUNT, or FAULTY for HARDWARE ERROR). Blame and flag as for mount.
bool unmount(const std::string& changer_sg, const std::string& drive_dev, ACE_UINT32 drive_number,
             ACE_INT32 slot, const std::string& media_tag, int retries, Blame& blame);
bool unmount(const std::string& changer_sg, const std::string& drive_dev, ACE_UINT32 drive_number,
             ACE_INT32 slot, const std::string& media_tag, int retries, bool& count_failure);

// Moves a cartridge between two slots.
bool transfer(const std::string& changer_sg, ACE_INT32 from, ACE_INT32 to, int retries);

// Every drive of the library that may be this host's ends up empty
// (cartridges go back to their source slot, or to the first empty storage
// slot). A drive element the identifiers show to be another host's
// (d2t/scsi/drive_naming.h, attached_elsewhere) is left as it is. Each
// drive is ejected through its tape device when the changer's device
// identifier names exactly one listed drive. False when any drive that was
// to be emptied stays loaded; the others are still emptied.
bool unload_all(const std::string& changer_sg, int retries);

// The non-rewinding tape device of `dev_name`: "<dir>/stN" and the mode
// variants "<dir>/stN[alm]" gain an "n" ("<dir>/nstN..."); any other name
// (already non-rewinding, a generic device) is returned as it is. The
// device listing pairs tape devices by the same rule.
std::string no_rewind_device(const std::string& dev_name);

// True when a cartridge is in the drive and it is ready; waits up to
// `wait_seconds` for a drive that is becoming ready (0 = do not wait),
// polling once a second on the tools clock (provider.h). Unit attentions
// are cleared, not waited for. `device` is any name of the drive.
bool drive_ready(const std::string& device, int wait_seconds);

// The cartridge now in the drive is a cleaning cartridge: TEST UNIT READY
// answers "cleaning cartridge installed" (02/30/03), or the cartridge
// memory's medium type attribute is 1.
bool cleaning_tape(const std::string& device);

// The barcode the loaded cartridge's memory holds (attribute 0x0806),
// trimmed. False when the drive holds no ready cartridge or its memory
// has no barcode.
bool cartridge_barcode(const std::string& device, std::string& barcode);

// Capacity in bytes of the loaded cartridge: its memory's maximum
// capacity attribute (MiB) times 1048576. False, `capacity` unchanged, when
// the drive holds no ready cartridge, the attribute is missing or zero, or
// the memory's barcode names a cartridge other than `media_tag` (both
// known).
bool get_media_capacity(const std::string& device, const std::string& media_tag,
                        ACE_UINT64& capacity);

}  // namespace tools
}  // namespace d2t

#endif
