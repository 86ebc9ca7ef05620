// Percent-decoding and query-string parsing (application/x-www-form-
// urlencoded rules).
#ifndef WEBSVCS_FRAMEWORK_QUERY_STRING_H
#define WEBSVCS_FRAMEWORK_QUERY_STRING_H

#include <map>
#include <string>

// Decodes "%XX" escapes (either case of hex digit) and, when `plus_is_space`
// is true, '+' as a space. False, `out` unspecified, when an escape is
// truncated or not hex, or when the result would hold a NUL byte.
bool percent_decode(const std::string& in, std::string& out, bool plus_is_space);

// Parses "a=1&b=x+y&c" into `out` (c maps to ""). Empty pieces ("a=1&&b=2")
// are skipped. The first value of a repeated name is kept. False, with
// `error` naming the bad piece, when a name or value does not decode or a
// name is empty; `out` then holds what was parsed before it.
bool parse_query_string(const std::string& query, std::map<std::string, std::string>& out,
                        std::string* error = nullptr);

#endif
