// The scan's steps that need no cartridge, or one at most (internal to the
// controller): placing host drives by the identifiers the devices report,
// completing the capacity and type measurements with one load-and-unload
// cycle when something is missing, and the capacities recorded per
// library. Failures are logged here, where they are decided.
#ifndef D2T_CONTROLLER_DRIVE_IDENTIFICATION_H
#define D2T_CONTROLLER_DRIVE_IDENTIFICATION_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "d2t/controller/controller_clock.h"
#include "d2t/controller/tape_controller_impl.h"
#include "d2t/util/changer.h"
#include "d2t/util/drive.h"

namespace d2t {
namespace identify {

struct Identified {
  std::vector<bool> element;             // per entry of changer.drives(): placed
  std::vector<bool> elsewhere;           // per entry: another host's drive
  std::vector<const d2t::Drive*> hosts;  // the host drive records placed
  // Host drives that identifiers place in another library: their VPD 0xB3
  // names it, or its element identifiers name them.
  std::vector<const d2t::Drive*> foreign;
  bool is_elsewhere(std::size_t i) const { return i < elsewhere.size() && elsewhere[i]; }
  bool is_foreign(const d2t::Drive_var& d) const;
  bool placed(std::size_t i) const { return i < element.size() && element[i]; }
  bool took(const d2t::Drive_var& d) const;
};

// Reads the changer's drive element identifiers and the identity of every
// host drive in `drives`, matches them (drive_identity.h) and puts each
// identified host record (given its element's drive_number) in place of
// its element in changer.drives(). Marks the elements the identifiers show
// to be another host's drives and the host drives they place in other
// libraries. Logs per library how many elements each route identified,
// every ambiguity and disagreement. Moves nothing; devices that do not answer only leave elements
// unidentified.
Identified identify_drives(d2t::Changer& changer, const std::vector<d2t::Drive_var>& drives);

struct Cycle_Settings {
  Controller_Clock& clock;
  int load_unload_retries;
  int max_wait_seconds;
  int faulty_threshold;
};

// After detection: when some tagged data cartridge has no capacity
// (neither measured in this scan nor recorded by an earlier one) or the
// library's type is neither measured now nor stored, loads one cartridge
// into one identified empty drive, measures it and unloads it, timing the
// cycle for the type ("virtual" up to TYPE_DETECT_TIME_THD_IN_MS). The
// cartridge is a missing one whose media type has no capacity yet, else
// (when nothing was measured in this scan) any missing one, else (type
// only) a cartridge whose recorded capacity is a guess, else the first
// data cartridge; a guess alone moves nothing; with none of these nothing moves.
// Without a completed cycle the stored type is kept. A failed unload marks
// the drive faulty and records the cartridge in it.
void complete_measures(d2t::Changer& changer, Tape_Controller_Impl* impl,
                       const Cycle_Settings& settings);

// Capacities the scans recorded for the cartridges of library
// `changer_serial`, by tag, and in `guessed` the tags whose capacity was
// recorded as a guess. False (and both empty) when they cannot be read.
bool recorded_capacities(const std::string& changer_serial,
                         std::map<std::string, std::uint64_t>& out, std::set<std::string>& guessed);
// Replaces the recorded capacities of the library with those of its
// tagged cartridges in state MST_BLANK (cleaning cartridges left out), in
// one transaction; those whose tag is in `guessed` are recorded as
// guesses. False (logged) when they cannot be written.
bool record_capacities(const d2t::Changer& changer, const std::set<std::string>& guessed);

}  // namespace identify
}  // namespace d2t

#endif
