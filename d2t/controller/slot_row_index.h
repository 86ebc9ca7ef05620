// Finding a changer's inventory slot rows by slot number (internal).
//
// A refresh matches every slot the changer reports to its inventory row.
// Libraries have tens of thousands of slots, so the rows are indexed once
// per refresh instead of searched linearly for each slot; the index gives
// exactly the row a first-match linear search with match_slot_number
// would give.
#ifndef D2T_CONTROLLER_SLOT_ROW_INDEX_H
#define D2T_CONTROLLER_SLOT_ROW_INDEX_H

#include <cstddef>
#include <unordered_map>

#include <ace/Basic_Types.h>

#include "json_spirit/json_spirit_value.h"

// True when `row` is an object whose "slot_number" reads as an int equal
// to `slot_number`; false for a non-object, a missing key or another number.
bool match_slot_number(const json_spirit::Value& row, ACE_INT32 slot_number);

class Slot_Row_Index {
 public:
  // Indexes `rows`, which must outlive the index and stay unchanged.
  explicit Slot_Row_Index(const json_spirit::Array& rows);

  // The first row for which match_slot_number(row, slot_number) holds,
  // or null when there is none.
  const json_spirit::Object* find(ACE_INT32 slot_number) const;

 private:
  const json_spirit::Array& rows_;
  std::unordered_map<ACE_INT32, std::size_t> first_;  // slot number -> row position
};

#endif
