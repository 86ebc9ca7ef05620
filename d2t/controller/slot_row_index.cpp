#include "d2t/controller/slot_row_index.h"

#include <limits>

#include "d2t/util/media.h"
#include "json_spirit/json_helpers.h"

namespace {

bool int_value(const json_spirit::Value& v, int& out) {
  if (v.type() != json_spirit::int_type || v.is_uint64()) return false;
  const std::int64_t n = v.get_int64();
  if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max()) return false;
  out = static_cast<int>(n);
  return true;
}

// 1 or 0 for a boolean, -1 for anything else.
int bool_or_unknown(const json_spirit::Value& v) {
  return v.type() == json_spirit::bool_type ? (v.get_bool() ? 1 : 0) : -1;
}

}  // namespace

bool match_slot_number(const json_spirit::Value& row, ACE_INT32 slot_number) {
  int n = 0;
  return row.type() == json_spirit::obj_type &&
         json_spirit::object_get(row.get_obj(), "slot_number", n) && n == slot_number;
}

bool slot_row_from_values(const json_spirit::Value& slot_number, const json_spirit::Value& media_tag,
                          const json_spirit::Value& is_porter, const json_spirit::Value& occupied,
                          Slot_Row& row) {
  int n = 0;
  if (!int_value(slot_number, n)) return false;
  row.slot_number = n;
  row.has_tag = media_tag.type() == json_spirit::str_type || media_tag.type() == json_spirit::secure_str_type;
  row.media_tag = row.has_tag ? media_tag.get_str() : std::string();
  row.is_porter = bool_or_unknown(is_porter);
  row.occupied = bool_or_unknown(occupied);
  return true;
}

bool slot_occupied(const d2t::Media& m) { return m.state() != d2t::MST_EMPTY; }

std::vector<Slot_Row> slot_rows_from_objects(const json_spirit::Array& rows) {
  std::vector<Slot_Row> out;
  for (const json_spirit::Value& v : rows) {
    if (v.type() != json_spirit::obj_type) continue;
    const json_spirit::Object& o = v.get_obj();
    auto get = [&o](const char* key) -> const json_spirit::Value& {
      auto it = o.find(key);
      return it == o.end() ? json_spirit::Value::null : it->second;
    };
    Slot_Row row;
    if (slot_row_from_values(get("slot_number"), get("media_tag"), get("is_porter"),
                             get("occupied"), row)) {
      out.push_back(row);
    }
  }
  return out;
}

Slot_Row_Index::Slot_Row_Index(const std::vector<Slot_Row>& rows) : rows_(rows) {
  first_.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) first_.emplace(rows[i].slot_number, i);  // keeps the first
}

const Slot_Row* Slot_Row_Index::find(ACE_INT32 slot_number) const {
  auto it = first_.find(slot_number);
  return it == first_.end() ? nullptr : &rows_[it->second];
}
