// json_spirit::Value: kinds, typed getters and destruction.
#include "json_spirit/json_spirit_value.h"

#include <climits>
#include <new>
#include <type_traits>
#include <string>

namespace json_spirit {

const Value Value::null;

const char* value_type_to_string(Value_type t) {
  switch (t) {
    case obj_type:
      return "object";
    case array_type:
      return "array";
    case str_type:
      return "string";
    case bool_type:
      return "boolean";
    case int_type:
      return "integer";
    case real_type:
      return "real";
    case null_type:
      return "null";
    case secure_str_type:
      return "secure string";
  }
  return "unknown";
}

// Arrays grow by moving their elements; a throwing move would make them
// copy whole trees instead.
static_assert(std::is_nothrow_move_constructible<Value>::value, "Value moves without throwing");

Value::~Value() {
  if (!std::holds_alternative<Object>(v_) && !std::holds_alternative<Array>(v_)) return;
  try {
    std::vector<Value> pending;
    release_children(pending);
    while (!pending.empty()) {
      Value last(std::move(pending.back()));
      pending.pop_back();
      last.release_children(pending);
    }
  } catch (const std::bad_alloc&) {
    // Out of memory for the work list: what is left is released by the
    // ordinary recursive destruction.
  }
}

void Value::release_children(std::vector<Value>& out) {
  if (Object* o = std::get_if<Object>(&v_)) {
    for (auto& kv : *o) {
      if (kv.second.type() == obj_type || kv.second.type() == array_type) {
        out.push_back(std::move(kv.second));
      }
    }
    o->clear();
  } else if (Array* a = std::get_if<Array>(&v_)) {
    for (Value& v : *a) {
      if (v.type() == obj_type || v.type() == array_type) out.push_back(std::move(v));
    }
    a->clear();
  }
}

Value_type Value::type() const {
  switch (v_.index()) {
    case 0:
      return null_type;
    case 1:
      return bool_type;
    case 2:
      return int_type;
    case 3:
      return real_type;
    case 4:
      return str_type;
    case 5:
      return secure_str_type;
    case 6:
      return obj_type;
    default:
      return array_type;
  }
}

void Value::type_error(Value_type wanted) const {
  throw Type_Error(std::string("value is ") + value_type_to_string(type()) + ", not " +
                   value_type_to_string(wanted));
}

const std::string& Value::get_str() const {
  if (const std::string* s = std::get_if<std::string>(&v_)) return *s;
  if (const Secure_String* s = std::get_if<Secure_String>(&v_)) return s->value;
  type_error(str_type);
}

const Object& Value::get_obj() const {
  if (const Object* o = std::get_if<Object>(&v_)) return *o;
  type_error(obj_type);
}

Object& Value::get_obj() {
  if (Object* o = std::get_if<Object>(&v_)) return *o;
  type_error(obj_type);
}

const Array& Value::get_array() const {
  if (const Array* a = std::get_if<Array>(&v_)) return *a;
  type_error(array_type);
}

Array& Value::get_array() {
  if (Array* a = std::get_if<Array>(&v_)) return *a;
  type_error(array_type);
}

bool Value::get_bool() const {
  if (const bool* b = std::get_if<bool>(&v_)) return *b;
  type_error(bool_type);
}

std::int64_t Value::get_int64() const {
  const std::int64_t* i = std::get_if<std::int64_t>(&v_);
  if (i == nullptr) type_error(int_type);
  if (is_uint64_) throw Type_Error("integer " + std::to_string(get_uint64()) +
                                   " does not fit in a signed 64-bit integer");
  return *i;
}

int Value::get_int() const {
  const std::int64_t i = get_int64();
  if (i < INT_MIN || i > INT_MAX) {
    throw Type_Error("integer " + std::to_string(i) + " does not fit in int");
  }
  return static_cast<int>(i);
}

std::uint64_t Value::get_uint64() const {
  const std::int64_t* i = std::get_if<std::int64_t>(&v_);
  if (i == nullptr) type_error(int_type);
  if (!is_uint64_ && *i < 0) {
    throw Type_Error("integer " + std::to_string(*i) + " is negative");
  }
  return static_cast<std::uint64_t>(*i);
}

double Value::get_real() const {
  if (const double* d = std::get_if<double>(&v_)) return *d;
  if (const std::int64_t* i = std::get_if<std::int64_t>(&v_)) {
    return is_uint64_ ? static_cast<double>(static_cast<std::uint64_t>(*i))
                      : static_cast<double>(*i);
  }
  type_error(real_type);
}

template <>
bool Value::get_value<bool>() const {
  return get_bool();
}
template <>
int Value::get_value<int>() const {
  return get_int();
}
template <>
std::int64_t Value::get_value<std::int64_t>() const {
  return get_int64();
}
template <>
std::uint64_t Value::get_value<std::uint64_t>() const {
  return get_uint64();
}
template <>
double Value::get_value<double>() const {
  return get_real();
}
template <>
std::string Value::get_value<std::string>() const {
  return get_str();
}
template <>
Object Value::get_value<Object>() const {
  return get_obj();
}
template <>
Array Value::get_value<Array>() const {
  return get_array();
}

}  // namespace json_spirit
