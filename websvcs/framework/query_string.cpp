// Percent-decoding and query-string parsing.
#include "websvcs/framework/query_string.h"

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool percent_decode(const std::string& in, std::string& out, bool plus_is_space) {
  out.clear();
  out.reserve(in.size());
  for (std::string::size_type i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '%') {
      if (i + 2 >= in.size()) return false;  // truncated escape
      int hi = hex_value(in[i + 1]);
      int lo = hex_value(in[i + 2]);
      if (hi < 0 || lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (c == '+' && plus_is_space) {
      c = ' ';
    }
    // A NUL would cut the text short wherever it is used as a C string.
    if (c == '\0') return false;
    out.push_back(c);
  }
  return true;
}

bool parse_query_string(const std::string& query, std::map<std::string, std::string>& out,
                        std::string* error) {
  std::string::size_type start = 0;
  while (start <= query.size()) {
    std::string::size_type end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string piece = query.substr(start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    std::string::size_type eq = piece.find('=');
    std::string raw_name = piece.substr(0, eq);
    std::string raw_value = eq == std::string::npos ? std::string() : piece.substr(eq + 1);
    std::string name, value;
    if (!percent_decode(raw_name, name, true) || !percent_decode(raw_value, value, true) ||
        name.empty()) {
      if (error) *error = piece;
      return false;
    }
    out.emplace(name, value);  // keeps the first value of a repeated name
  }
  return true;
}
