// Printf-style formatting into std::string.
#include "runtime/string_sprintf.h"

#include <cstdio>

namespace {
// Room formatted into at least, so short results need one pass.
const std::size_t MIN_ROOM = 128;
}  // namespace

int string_vsprintf(std::string& s, const char* fmt, va_list args, bool append) {
  const std::size_t pos = append ? s.size() : 0;
  std::size_t want = MIN_ROOM;
  for (;;) {
    if (s.size() < pos + want) s.resize(pos + want);
    const std::size_t room = s.size() - pos;
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(&s[pos], room, fmt, copy);
    va_end(copy);
    if (n < 0) {
      if (pos == 0) {
        s.clear();
        s.shrink_to_fit();
      } else {
        s.resize(pos);
      }
      return n;
    }
    if (static_cast<std::size_t>(n) < room) {
      s.resize(pos + static_cast<std::size_t>(n));
      return static_cast<int>(s.size());
    }
    want = static_cast<std::size_t>(n) + 1;
  }
}

int string_sprintf(std::string& s, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = string_vsprintf(s, fmt, args, false);
  va_end(args);
  return n;
}
