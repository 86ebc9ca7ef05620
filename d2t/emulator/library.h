// An emulated tape library: its configuration (the library file) and its
// cartridge positions (the state file), shared by every process that opens
// the same library file.
//
// Test and inspection API: open a Library on a library file and ask it for
// cartridges() -- the truth of where each cartridge is -- after driving the
// devices through make_provider() (emulator.h), mtx or sg3-utils. Faults
// are injected by set_faults() or by rewriting the library file's "faults"
// (picked up by its modification, also by running processes: a new inode,
// size or modification time, or within two seconds of a change, new
// content; every change re-arms the whole list). Renaming devices is done by
// rewriting the library file (listing re-reads it). The d2t_emu tool prints
// the same truth for operators ("d2t_emu -f <file> status").
//
// Concurrency: every operation holds an in-process mutex and an exclusive
// flock on "<state file>.lock" while it reads or changes the state. The
// state is re-read only when another writer changed it (its header carries
// an epoch and a generation). Writes go to a temporary file that is fsynced
// and renamed over the state file, so a crash leaves either the old or the
// new positions, never a cartridge in two places or in none. Simulated
// mechanical time is slept outside the lock. Moves, loads, unloads and
// element status reads are appended to the library file's "operation_log"
// when it names one (operation_log.h).
#ifndef D2T_EMULATOR_LIBRARY_H
#define D2T_EMULATOR_LIBRARY_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "d2t/emulator/clock.h"
#include "d2t/emulator/config.h"
#include "d2t/emulator/sense.h"
#include "d2t/emulator/state.h"

namespace d2t {
namespace emulator {

enum class Place { STORAGE, PORTER, DRIVE };

// Where one cartridge is.
struct Cartridge_Info {
  std::string changer_serial;
  std::string barcode;  // "" for an unreadable label
  bool cleaning = false;
  std::uint64_t capacity = 0;  // bytes; 0 unknown
  Place place = Place::STORAGE;
  // 1-based slot number as initiators count them (storage slots, then
  // porter slots); 0 while in a drive.
  std::int32_t slot = 0;
  std::int32_t drive = -1;     // 0-based drive index in element order
  std::string drive_serial;    // serial of that drive
  std::int32_t home_slot = 0;  // slot it came from into the drive; 0 unknown
  bool threaded = false;       // in a drive and loaded (not ejected)
};

class Library_Impl;

class Library {
 public:
  // Opens `library_file` (see config.h). The state file is created from
  // the file's cartridges when absent, and a changer whose shape changed
  // in the file is seeded again. Null with `error` set on failure.
  // `clock` defaults to system_clock().
  static std::shared_ptr<Library> open(const std::string& library_file, std::string* error,
                                       std::shared_ptr<Clock> clock = {});
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // The current configuration (re-read when the file changed; a file that
  // no longer parses leaves the last good configuration in place).
  std::shared_ptr<const Library_Config> config();
  const std::string& library_file() const;
  Clock& clock();

  // The truth: every cartridge of every changer, changer by changer in
  // element order (storage, porter, drives).
  bool cartridges(std::vector<Cartridge_Info>& out, std::string* error);
  // Forgets every position and seeds the state again from the file.
  bool reset(std::string* error);
  // Replaces the "faults" of changer `changer_serial` in the library file
  // (atomic rewrite); running processes pick the new list up.
  bool set_faults(const std::string& changer_serial, const std::vector<Fault_Config>& faults,
                  std::string* error);

  // --- Device operations (used by the emulated devices). A GOOD code
  // means done; otherwise nothing changed. ---

  // MOVE MEDIUM between element addresses (see emulator.h). Sleeps
  // move_ms, plus unload_ms when the source drive still has its tape
  // loaded. Faults: "mount" (into a drive), "unmount" (out of a drive),
  // "transfer" (slot to slot).
  Sense_Code move_medium(const std::string& changer_serial, std::uint16_t source,
                         std::uint16_t destination);
  // LOAD UNLOAD on drive `drive` (0-based). Unload sleeps unload_ms when
  // the tape is loaded; load (unless `immediate`) sleeps load_ms.
  Sense_Code load_unload(const std::string& changer_serial, std::uint32_t drive, bool load,
                         bool immediate);
  // TEST UNIT READY: MEDIUM_NOT_PRESENT, INITIALIZING_COMMAND_REQUIRED
  // (ejected tape), BECOMING_READY (until load_ms after the load),
  // CLEANING_CARTRIDGE, then MEDIUM_CHANGED once per load per Library,
  // then GOOD. Fault "ready" answers first.
  Sense_Code test_unit_ready(const std::string& changer_serial, std::uint32_t drive);
  // The cartridge in a ready drive (for its medium auxiliary memory), or
  // the not-ready code. No unit attention, no fault.
  Sense_Code loaded_cartridge(const std::string& changer_serial, std::uint32_t drive,
                              Cartridge_State& out);
  // READ ELEMENT STATUS of `count` elements of `type` from address
  // `first`: sleeps status_ms (the robot taking inventory), then runs `fn`
  // on the changer as view() does.
  bool element_status(const std::string& changer_serial, std::uint8_t type, std::uint16_t first,
                      std::uint16_t count,
                      const std::function<void(const Changer_Config&, const Changer_State&)>& fn,
                      std::string* error);
  // Runs `fn` on a consistent view of one changer (under the lock).
  // False with `error` when the changer is unknown or the state unusable.
  bool view(const std::string& changer_serial,
            const std::function<void(const Changer_Config&, const Changer_State&)>& fn,
            std::string* error);

 private:
  explicit Library(std::unique_ptr<Library_Impl> impl);
  std::unique_ptr<Library_Impl> impl_;
};

}  // namespace emulator
}  // namespace d2t

#endif
