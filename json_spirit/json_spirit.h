// JSON text reading and writing for json_spirit::Value, on top of YAJL.
#ifndef JSON_SPIRIT_H
#define JSON_SPIRIT_H

#include <string>

#include "json_spirit/json_spirit_value.h"

namespace json_spirit {

// Nesting deeper than this is refused by read(), so hostile input cannot
// exhaust the stack.
enum { MAX_READ_DEPTH = 512 };

// Parses one JSON text. Integers that fit in 64 bits (signed, or unsigned
// above INT64_MAX) become int_type; other numbers become real_type; numbers
// beyond the range of double fail. On failure returns false, leaves `out`
// unchanged and, when `error` is not null, stores a one-line reason.
bool read(const std::string& text, Value& out, std::string* error = nullptr);

// Compact JSON text (no spaces, no newline). Secure strings are written as
// their text: write() is for replies and files, not for logs.
std::string write(const Value& v);
// Indented JSON text, for files an operator reads.
std::string write_formatted(const Value& v);

}  // namespace json_spirit

#endif
