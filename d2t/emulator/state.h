// Cartridge positions and drive states of an emulated library, and their
// text form in the state file.
//
// Element indexes (not SCSI addresses) locate cartridges inside a changer:
// storage slots 0..S-1, porter slots S..S+P-1, drives S+P..S+P+D-1.
#ifndef D2T_EMULATOR_STATE_H
#define D2T_EMULATOR_STATE_H

#include <cstdint>
#include <string>
#include <vector>

#include "d2t/emulator/config.h"

namespace d2t {
namespace emulator {

struct Cartridge_State {
  std::string barcode;
  std::uint64_t capacity = 0;
  bool cleaning = false;
  std::int32_t element = -1;  // where it is now
  std::int32_t source = -1;   // last slot it left for a drive; -1 unknown
};

struct Drive_State {
  bool threaded = false;          // the tape is loaded (not ejected)
  std::uint64_t load_seq = 0;     // counts loads, for unit attentions
  std::uint64_t loaded_at_ms = 0; // monotonic time of the last load
};

struct Changer_State {
  std::string serial_number;
  std::uint32_t storage = 0;
  std::uint32_t porter = 0;
  std::uint32_t drives = 0;
  std::vector<Cartridge_State> cartridges;
  std::vector<Drive_State> drive;
  // Per element index: index into `cartridges`, or -1. Derived by
  // rebuild_occupants(), kept in step by every move.
  std::vector<std::int32_t> occupant;

  std::uint32_t elements() const { return storage + porter + drives; }
  std::int32_t drive_element(std::uint32_t d) const {
    return static_cast<std::int32_t>(storage + porter + d);
  }
  bool is_drive(std::int32_t element) const {
    return element >= static_cast<std::int32_t>(storage + porter);
  }
  // False with `error` set when a cartridge lies outside the changer or
  // two cartridges share an element.
  bool rebuild_occupants(std::string* error);
  // Moves cartridge from element `from` to `to` (which must be empty).
  void move(std::int32_t from, std::int32_t to);
};

struct Fault_State {
  Fault_Config fault;
  std::uint32_t remaining = 0;
};

struct Library_State {
  std::string epoch;             // random id of this state's creation
  std::uint64_t generation = 0;  // bumped by every write
  std::string fault_signature;   // which library file the faults came from
  std::vector<Fault_State> faults;
  std::vector<Changer_State> changers;

  Changer_State* find(const std::string& serial);
};

// A changer's state as its configuration seeds it: cartridges in their
// configured places, then the fill in the lowest empty storage slots.
Changer_State seed_changer(const Changer_Config& config);

// True when `state` was seeded for a changer of this shape.
bool same_layout(const Changer_State& state, const Changer_Config& config);

std::string serialize_state(const Library_State& state);
// False with `error` set on malformed or truncated text, or on a state
// that puts two cartridges in one place.
bool parse_state(const std::string& text, Library_State& out,
                 std::string* error);
// Reads epoch and generation from the first line(s) of a state text.
bool parse_state_header(const std::string& prefix, std::string& epoch,
                        std::uint64_t& generation);

}  // namespace emulator
}  // namespace d2t

#endif
