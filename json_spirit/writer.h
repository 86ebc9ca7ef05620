// The JSON text writer behind write(), write_formatted() and JSON_Dump().
// Internal to this library.
#ifndef JSON_SPIRIT_WRITER_H
#define JSON_SPIRIT_WRITER_H

#include <cstddef>
#include <string>

#include "json_spirit/json_spirit_value.h"

namespace json_spirit {

struct Write_Options {
  bool formatted = false;    // indent by two blanks, one member per line
  bool mask_secure = false;  // secure strings as "***"
};

// Writes `v` as JSON text. Strings are escaped (quote, backslash, control
// characters); valid UTF-8 passes through and invalid bytes become U+FFFD;
// non-finite reals become null. Nesting is walked with an explicit stack.
std::string write_json(const Value& v, const Write_Options& options);

// Length of the valid UTF-8 sequence starting at s[i] (i < s.size()), or 0
// when the bytes there are not one: overlong forms, surrogates and values
// above U+10FFFF are refused.
std::size_t utf8_sequence_length(const std::string& s, std::size_t i);
// True when all of `s` is valid UTF-8 in that strict sense, so that
// write_json() passes it through unchanged.
bool valid_utf8(const std::string& s);

}  // namespace json_spirit

#endif
