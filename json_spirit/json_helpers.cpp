// Free functions over json_spirit::Object.
#include "json_spirit/json_helpers.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

#include <ace/Log_Msg.h>

#include "json_spirit/writer.h"

namespace json_spirit {
namespace {

const Value* find(const Object& o, const std::string& key) {
  const auto it = o.find(key);
  return it == o.end() ? nullptr : &it->second;
}

// The value under `key` if it has the kind `want`, else throw naming the
// key and what it holds.
const Value& get_or_throw(const Object& o, const std::string& key, Value_type want) {
  const Value* v = find(o, key);
  if (v == nullptr) throw Type_Error("key '" + key + "' is missing");
  const Value_type t = v->type();
  if (t == want || (want == str_type && t == secure_str_type)) return *v;
  throw Type_Error("key '" + key + "' holds " + value_type_to_string(t) + ", not " +
                   value_type_to_string(want));
}

}  // namespace

bool object_get(const Object& o, const std::string& key, int& out) {
  const Value* v = find(o, key);
  if (v == nullptr || v->type() != int_type || v->is_uint64()) return false;
  const std::int64_t i = v->get_int64();
  if (i < INT_MIN || i > INT_MAX) return false;
  out = static_cast<int>(i);
  return true;
}

bool object_get(const Object& o, const std::string& key, std::int64_t& out) {
  const Value* v = find(o, key);
  if (v == nullptr || v->type() != int_type || v->is_uint64()) return false;
  out = v->get_int64();
  return true;
}

bool object_get(const Object& o, const std::string& key, bool& out) {
  const Value* v = find(o, key);
  if (v == nullptr || v->type() != bool_type) return false;
  out = v->get_bool();
  return true;
}

const std::string* object_get_str(const Object& o, const std::string& key) {
  const Value* v = find(o, key);
  if (v == nullptr || (v->type() != str_type && v->type() != secure_str_type)) return nullptr;
  return &v->get_str();
}

template <>
const std::string* object_get_any_ptr<std::string>(const Object& o, const std::string& key) {
  return object_get_str(o, key);
}

template <>
const Object* object_get_any_ptr<Object>(const Object& o, const std::string& key) {
  const Value* v = find(o, key);
  return v != nullptr && v->type() == obj_type ? &v->get_obj() : nullptr;
}

template <>
const Array* object_get_any_ptr<Array>(const Object& o, const std::string& key) {
  const Value* v = find(o, key);
  return v != nullptr && v->type() == array_type ? &v->get_array() : nullptr;
}

const Value* object_get_any(const Object& o, const std::string& key) { return find(o, key); }

const std::string& object_get_str_or_throw(const Object& o, const std::string& key) {
  return get_or_throw(o, key, str_type).get_str();
}

int object_get_int_or_throw(const Object& o, const std::string& key) {
  const Value& v = get_or_throw(o, key, int_type);
  try {
    return v.get_int();
  } catch (const Type_Error& e) {
    throw Type_Error("key '" + key + "': " + e.what());
  }
}

std::int64_t object_get_int64_or_throw(const Object& o, const std::string& key) {
  const Value& v = get_or_throw(o, key, int_type);
  try {
    return v.get_int64();
  } catch (const Type_Error& e) {
    throw Type_Error("key '" + key + "': " + e.what());
  }
}

Array& to_new_array(Value& v) {
  v = Array();
  return v.get_array();
}

Object& append_new_object(Array& a) {
  a.emplace_back();
  Value& v = a.back();
  v = Object();
  return v.get_obj();
}

bool load_json(const std::string& path, Value& out, int flags) {
  const bool quiet = (flags & LOAD_JSON_QUIET) != 0;
  std::ifstream in(path, std::ios::in | std::ios::binary);
  if (!in) {
    if (!quiet) {
      const int error = errno;
      errno = error;
      ACE_ERROR((LM_ERROR, "Failed to open %C, errno=%d, %m\n", path.c_str(), error));
    }
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    if (!quiet) ACE_ERROR((LM_ERROR, "Failed to read %C\n", path.c_str()));
    return false;
  }
  std::string error;
  if (!read(text.str(), out, &error)) {
    if (!quiet) ACE_ERROR((LM_ERROR, "Failed to parse %C: %C\n", path.c_str(), error.c_str()));
    return false;
  }
  return true;
}

std::string JSON_Dump(const Value& v, bool formatted) {
  Write_Options options;
  options.formatted = formatted;
  options.mask_secure = true;
  return write_json(v, options);
}

}  // namespace json_spirit
