#include "d2t/controller/slot_row_index.h"

#include "json_spirit/json_helpers.h"

namespace {

bool row_slot_number(const json_spirit::Value& row, int& slot_number) {
  return row.type() == json_spirit::obj_type &&
         json_spirit::object_get(row.get_obj(), "slot_number", slot_number);
}

}  // namespace

bool match_slot_number(const json_spirit::Value& row, ACE_INT32 slot_number) {
  int n = 0;
  return row_slot_number(row, n) && n == slot_number;
}

Slot_Row_Index::Slot_Row_Index(const json_spirit::Array& rows) : rows_(rows) {
  first_.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    int n = 0;
    if (row_slot_number(rows[i], n)) first_.emplace(n, i);  // keeps the first
  }
}

const json_spirit::Object* Slot_Row_Index::find(ACE_INT32 slot_number) const {
  auto it = first_.find(slot_number);
  return it == first_.end() ? nullptr : &rows_[it->second].get_obj();
}
