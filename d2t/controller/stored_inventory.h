// The inventory as stored, read without touching any device: what the
// read-only routes (inventory, metrics) serve.
//
// Only the database is read; no device is listed or opened, no lock of
// the controller is taken, so a reader never waits for a robot (only, at
// worst, for a short inventory write to finish).
#ifndef D2T_CONTROLLER_STORED_INVENTORY_H
#define D2T_CONTROLLER_STORED_INVENTORY_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "d2t/util/changer.h"

// One stored library: the changer record with its drives (in drive-number
// order) and its slots (in slot-number order), and per drive what the
// drive rows hold beyond the device record.
//
// A drive record's slot_number is the home slot of the cartridge it holds
// (0 when empty) and its media_tag that cartridge's tag (the home slot
// row keeps it); faulty() is failures >= the threshold given. Slots carry
// their stored tag and porter flag; their state is "empty" without a tag,
// "clean" for a cleaning cartridge's tag and "unknown" otherwise (the
// inventory does not keep capacities); `occupied` says which slots the
// last element status or move saw a cartridge in, labelled or not.
// Libraries shared by several hosts list every host's drives; host_ids
// says whose each drive is ("" on an inventory only one host ever used).
struct Stored_Library {
  d2t::Changer_var changer;
  std::vector<int> failures;          // per entry of changer->drives()
  std::vector<std::string> host_ids;  // per entry of changer->drives()
  std::set<int> occupied;             // slot numbers
  std::int64_t slot_count = 0;        // all stored slots (set by ranged reads)
};

// A part of the slots of each library: the slots numbered `from` or more,
// at most `count` of them, in slot-number order.
struct Slot_Range {
  int from = 1;
  int count = 0;
};

// What a stored slot holds, as the read-only routes and metrics report it.
enum class Slot_Contents {
  EMPTY,       // no cartridge
  FULL,        // its own labelled data cartridge
  IN_DRIVE,    // the home slot of a cartridge that a drive holds
  UNLABELLED,  // a cartridge without a label
  CLEANING,    // a cleaning cartridge
  PORTER,      // an import/export slot, whatever it holds
};

// "empty", "full", "in_drive", "unlabelled", "cleaning", "porter".
const char* slot_contents_name(Slot_Contents contents);

// The contents of `slot` (one of library.changer->medias()). The tag
// decides for a labelled slot, so an inventory stored before occupancy was
// recorded counts its labelled cartridges right; occupancy tells an
// unlabelled cartridge from an empty slot.
Slot_Contents slot_contents(const Stored_Library& library, const d2t::Media& slot);

// Reads every stored library, or only the one with `serial_number` when it
// is not null (none found: true, `out` empty). Libraries in the order of
// their serial numbers. With `range` only the slots in it are read, and
// each library's `slot_count` is the number of all its stored slots.
// Slot rows are read a bounded number at a time, so no copy of the whole
// slot table is held besides the records. False when the database cannot
// be reached or read (logged once here); `out` is then empty.
bool read_stored_inventory(const std::string* serial_number, int faulty_threshold,
                           std::vector<Stored_Library>& out, const Slot_Range* range = nullptr);

// True when the slot `slot_number` of `library` is the home of a cartridge
// that one of its drives holds.
bool home_of_loaded(const Stored_Library& library, int slot_number);

#endif
