// Small free functions over json_spirit::Object used by every subsystem.
#ifndef JSON_SPIRIT_JSON_HELPERS_H
#define JSON_SPIRIT_JSON_HELPERS_H

#include <cstdint>
#include <string>

#include "json_spirit/json_spirit.h"

namespace json_spirit {

// True and `out` set when `key` holds a value of that type (for int: an
// integer that fits in int); false and `out` unchanged otherwise (missing,
// null or another type).
bool object_get(const Object& o, const std::string& key, int& out);
bool object_get(const Object& o, const std::string& key, std::int64_t& out);
bool object_get(const Object& o, const std::string& key, bool& out);

// Pointer to the string under `key` (str or secure str), or null.
const std::string* object_get_str(const Object& o, const std::string& key);

// A copy of the string under `key`, or "" when there is none.
inline std::string object_get_str_or_empty(const Object& o, const std::string& key) {
  const std::string* s = object_get_str(o, key);
  return s ? *s : std::string();
}

// Pointer to the value of type T under `key`, or null when missing or of
// another type. T is std::string, Object or Array.
template <typename T>
const T* object_get_any_ptr(const Object& o, const std::string& key);
template <>
const std::string* object_get_any_ptr<std::string>(const Object& o, const std::string& key);
template <>
const Object* object_get_any_ptr<Object>(const Object& o, const std::string& key);
template <>
const Array* object_get_any_ptr<Array>(const Object& o, const std::string& key);
// Pointer to whatever value is under `key`, or null when missing.
const Value* object_get_any(const Object& o, const std::string& key);

// The value under `key`; throw Type_Error (derived from std::exception)
// when missing or of another type.
const std::string& object_get_str_or_throw(const Object& o, const std::string& key);
int object_get_int_or_throw(const Object& o, const std::string& key);
std::int64_t object_get_int64_or_throw(const Object& o, const std::string& key);

// insert(o)("a", 1)("b", "x"): stores each value under its key, replacing
// an earlier one.
class Object_Inserter {
 public:
  explicit Object_Inserter(Object& o) : o_(&o) {}
  Object_Inserter& operator()(const std::string& key, const Value& v) {
    (*o_)[key] = v;
    return *this;
  }

 private:
  Object* o_;
};
inline Object_Inserter insert(Object& o) { return Object_Inserter(o); }
// The same as insert(o).
inline Object_Inserter assign(Object& o) { return Object_Inserter(o); }

// extract(o)("a", &pa)("b", &pb): sets each `const std::string*` to the
// string under its key, or leaves it untouched when there is none.
class Object_Extractor {
 public:
  explicit Object_Extractor(const Object& o) : o_(&o) {}
  Object_Extractor& operator()(const std::string& key, const std::string** dest) {
    if (const std::string* s = object_get_str(*o_, key)) *dest = s;
    return *this;
  }

 private:
  const Object* o_;
};
inline Object_Extractor extract(const Object& o) { return Object_Extractor(o); }

// Replaces `v` with an empty array and returns it.
Array& to_new_array(Value& v);
// Appends an empty object to `a` and returns it.
Object& append_new_object(Array& a);

// Reads the JSON file at `path` into `out`. flags: LOAD_JSON_QUIET (1)
// reports nothing; false when the file cannot be read or parsed.
enum { LOAD_JSON_QUIET = 1 };
bool load_json(const std::string& path, Value& out, int flags = LOAD_JSON_QUIET);

// Compact JSON text for log lines; secure strings print as "***".
// `formatted` true gives indented text.
std::string JSON_Dump(const Value& v, bool formatted = false);

}  // namespace json_spirit

#endif
