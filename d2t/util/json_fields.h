// Field readers shared by the records' load_from_json. Each returns true
// when the key is absent or null (field unchanged) or holds a value of the
// right kind (field set), and false for a value of another kind.
#ifndef D2T_UTIL_JSON_FIELDS_H
#define D2T_UTIL_JSON_FIELDS_H

#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

#include "json_spirit/json_spirit_value.h"

namespace d2t {
namespace json_fields {

inline const json_spirit::Value* find(const json_spirit::Object& o, const char* key) {
  auto it = o.find(key);
  if (it == o.end() || it->second.is_null()) return nullptr;
  return &it->second;
}

inline bool read(const json_spirit::Object& o, const char* key, std::string& out) {
  const json_spirit::Value* v = find(o, key);
  if (!v) return true;
  if (v->type() != json_spirit::str_type && v->type() != json_spirit::secure_str_type) return false;
  out = v->get_str();
  return true;
}

inline bool read(const json_spirit::Object& o, const char* key, bool& out) {
  const json_spirit::Value* v = find(o, key);
  if (!v) return true;
  if (v->type() == json_spirit::bool_type) {
    out = v->get_bool();
    return true;
  }
  // SQL back ends without a boolean type hand booleans over as 0/1.
  if (v->type() == json_spirit::int_type) {
    out = v->get_int64() != 0;
    return true;
  }
  return false;
}

// Integers of any width; false when the value does not fit in T.
template <typename T>
bool read_int(const json_spirit::Object& o, const char* key, T& out) {
  const json_spirit::Value* v = find(o, key);
  if (!v) return true;
  if (v->type() != json_spirit::int_type) return false;
  if (v->is_uint64()) {
    std::uint64_t u = v->get_uint64();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return false;
    out = static_cast<T>(u);
    return true;
  }
  std::int64_t i = v->get_int64();
  if constexpr (std::is_signed<T>::value) {
    if (i < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
        i > static_cast<std::int64_t>(std::numeric_limits<T>::max()))
      return false;
  } else {
    if (i < 0 ||
        static_cast<std::uint64_t>(i) > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
      return false;
  }
  out = static_cast<T>(i);
  return true;
}

}  // namespace json_fields
}  // namespace d2t

#endif
