#include "d2t/util/log_text.h"

#include <cstdio>

namespace d2t {

std::string log_text(const std::string& text, std::size_t max) {
  std::string out;
  out.reserve(text.size() < max ? text.size() : max);
  for (unsigned char c : text) {
    if (out.size() >= max) {
      out += "...";
      break;
    }
    if (c > 0x20 && c < 0x7f && c != '"') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace d2t
