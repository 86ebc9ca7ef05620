// The JSON text writer behind write(), write_formatted() and JSON_Dump().
// Internal to this library.
#ifndef JSON_SPIRIT_WRITER_H
#define JSON_SPIRIT_WRITER_H

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

}  // namespace json_spirit

#endif
