// Finding a changer's inventory slot rows by slot number (internal).
//
// A refresh matches every slot the changer reports to its inventory row.
// Libraries have tens of thousands of slots, so the rows are read in a
// compact form and indexed once per refresh instead of searched linearly
// for each slot; the index gives exactly the row a first-match linear
// search with match_slot_number would give.
#ifndef D2T_CONTROLLER_SLOT_ROW_INDEX_H
#define D2T_CONTROLLER_SLOT_ROW_INDEX_H

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include <ace/Basic_Types.h>

#include "json_spirit/json_spirit_value.h"

namespace d2t {
class Media;
}

// True when `row` is an object whose "slot_number" reads as an int equal
// to `slot_number`; false for a non-object, a missing key or another number.
bool match_slot_number(const json_spirit::Value& row, ACE_INT32 slot_number);

// What a refresh needs of one slot row.
struct Slot_Row {
  ACE_INT32 slot_number = 0;
  bool has_tag = false;    // media_tag is a string (not NULL)
  std::string media_tag;
  int is_porter = -1;      // 0 or 1; -1 when the value is not a boolean
  int occupied = -1;       // 0 or 1; -1 when the value is not a boolean
};

// Fills `row` from the column values; false when `slot_number` does not
// read as an int (such a row matches no slot).
bool slot_row_from_values(const json_spirit::Value& slot_number, const json_spirit::Value& media_tag,
                          const json_spirit::Value& is_porter, const json_spirit::Value& occupied,
                          Slot_Row& row);

// True when the element status a medium was read from reported a cartridge
// in its slot (labelled or not): what the inventory's slot.occupied keeps.
// The home slot of a cartridge that is in a drive is not occupied.
bool slot_occupied(const d2t::Media& m);

// Slot rows in compact form from rows as objects keyed by column name
// (non-objects and rows without an int slot number are left out).
std::vector<Slot_Row> slot_rows_from_objects(const json_spirit::Array& rows);

class Slot_Row_Index {
 public:
  // Indexes `rows`, which must outlive the index and stay unchanged.
  explicit Slot_Row_Index(const std::vector<Slot_Row>& rows);

  // The first row with this slot number, or null when there is none.
  const Slot_Row* find(ACE_INT32 slot_number) const;

 private:
  const std::vector<Slot_Row>& rows_;
  std::unordered_map<ACE_INT32, std::size_t> first_;  // slot number -> row position
};

#endif
