// The JSON value type of the whole system.
//
// A Value is one of: null, bool, 64-bit integer, real, string, secure
// string (a string that must never be logged: JSON_Dump and the log helpers
// print it as "***"), Object (key -> Value, kept sorted by key) or Array.
// Values have plain value semantics: copying a Value copies the tree.
//
// Typed getters throw json_spirit::Type_Error (a std::runtime_error) when the
// value holds another kind; get_real() also accepts an integer and
// get_str() also accepts a secure string.
#ifndef JSON_SPIRIT_VALUE_H
#define JSON_SPIRIT_VALUE_H

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace json_spirit {

enum Value_type {
  obj_type,
  array_type,
  str_type,
  bool_type,
  int_type,
  real_type,
  null_type,
  secure_str_type
};

// Name of a kind, for messages ("object", "array", "string", ...).
const char* value_type_to_string(Value_type t);

class Value;
typedef std::map<std::string, Value> Object;
typedef std::vector<Value> Array;
typedef std::pair<const std::string, Value> Pair;

// A text that must never appear in a log: a password, a token.
struct Secure_String {
  std::string value;
  bool operator==(const Secure_String& o) const { return value == o.value; }
};

class Type_Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Value {
 public:
  static const Value null;

  Value() : v_(nullptr) {}
  Value(std::nullptr_t) : v_(nullptr) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned int i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
  // Values above INT64_MAX are kept and remembered as unsigned.
  Value(unsigned long i) { set_unsigned(i); }
  Value(unsigned long long i) { set_unsigned(i); }
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s ? s : "")) {}
  Value(const std::string& s) : v_(s) {}
  Value(std::string&& s) : v_(std::move(s)) {}
  Value(const Secure_String& s) : v_(s) {}
  Value(const Object& o) : v_(o) {}
  Value(Object&& o) : v_(std::move(o)) {}
  Value(const Array& a) : v_(a) {}
  Value(Array&& a) : v_(std::move(a)) {}

  Value(const Value&) = default;
  Value(Value&&) = default;
  // The source may live inside this value (v = v.get_array()[0]): it is
  // copied or moved out before the old contents are released.
  Value& operator=(const Value& o) { return *this = Value(o); }
  Value& operator=(Value&& o) noexcept(std::is_nothrow_move_assignable_v<decltype(v_)>) {
    if (this == &o) return *this;
    Value taken;
    taken.v_ = std::move(o.v_);
    taken.is_uint64_ = o.is_uint64_;
    v_ = std::move(taken.v_);
    is_uint64_ = taken.is_uint64_;
    return *this;
  }
  // Releases nested containers without recursing once per level, so a
  // deeply nested value cannot exhaust the stack when it is destroyed.
  ~Value();

  Value_type type() const;
  bool is_null() const { return std::holds_alternative<std::nullptr_t>(v_); }
  // True for an integer stored from an unsigned value above INT64_MAX.
  bool is_uint64() const { return is_uint64_; }

  const std::string& get_str() const;  // str_type or secure_str_type
  const Object& get_obj() const;
  Object& get_obj();
  const Array& get_array() const;
  Array& get_array();
  bool get_bool() const;
  int get_int() const;  // throws when the integer does not fit in int
  // Throws for an unsigned value above INT64_MAX.
  std::int64_t get_int64() const;
  // Throws for a negative value.
  std::uint64_t get_uint64() const;
  double get_real() const;  // int_type converts

  // get_value<T>() for bool, int, std::int64_t, std::uint64_t, double,
  // std::string, Object, Array.
  template <typename T>
  T get_value() const;

  bool operator==(const Value& o) const { return v_ == o.v_ && is_uint64_ == o.is_uint64_; }
  bool operator!=(const Value& o) const { return !(*this == o); }

 private:
  void set_unsigned(unsigned long long i) {
    v_ = static_cast<std::int64_t>(i);
    is_uint64_ = i > static_cast<unsigned long long>(INT64_MAX);
  }
  [[noreturn]] void type_error(Value_type wanted) const;
  // Moves the elements of an object or array into `out`, leaving this
  // container empty.
  void release_children(std::vector<Value>& out);

  std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Secure_String, Object,
               Array>
      v_;
  bool is_uint64_ = false;
};

template <>
bool Value::get_value<bool>() const;
template <>
int Value::get_value<int>() const;
template <>
std::int64_t Value::get_value<std::int64_t>() const;
template <>
std::uint64_t Value::get_value<std::uint64_t>() const;
template <>
double Value::get_value<double>() const;
template <>
std::string Value::get_value<std::string>() const;
template <>
Object Value::get_value<Object>() const;
template <>
Array Value::get_value<Array>() const;

}  // namespace json_spirit

#endif
