// Strict decimal parsing into an integer type.
#ifndef RUNTIME_NATOI_H
#define RUNTIME_NATOI_H

#include <cerrno>
#include <cstdint>
#include <limits>
#include <type_traits>

// Parses a decimal number of type T from `beg`: an optional "+" or "-"
// (no blanks skipped), then digits up to the first non-digit, or up to
// `end` when `end` is not null. `*eptr` (when given) receives where parsing
// stopped. Sets errno and returns:
//  - 0 and the value on success;
//  - EINVAL and 0 when `beg` is null or empty, there is no digit, or T is
//    unsigned and the text starts with "-";
//  - ERANGE and the maximum of T when the number does not fit (also for a
//    negative number below the minimum).
// P is char* or const char*.
template <typename T, typename P>
T natoi(P beg, P end = nullptr, P* eptr = nullptr) {
  static_assert(std::is_integral<T>::value, "natoi parses integers");
  typedef std::uintmax_t U;
  if (eptr) *eptr = beg;
  if (beg == nullptr || (end != nullptr && beg >= end) || *beg == '\0') {
    errno = EINVAL;
    return 0;
  }
  P p = beg;
  bool neg = false;
  if (*p == '+') {
    ++p;
  } else if (*p == '-') {
    if (!std::is_signed<T>::value) {
      errno = EINVAL;
      return 0;
    }
    neg = true;
    ++p;
  }
  const U limit = static_cast<U>(std::numeric_limits<T>::max()) + (neg ? 1 : 0);
  U m = 0;
  bool digits = false;
  bool overflow = false;
  for (; (end == nullptr || p < end) && *p >= '0' && *p <= '9'; ++p) {
    const U d = static_cast<U>(*p - '0');
    if (m > limit / 10 || (m == limit / 10 && d > limit % 10)) {
      overflow = true;
      break;
    }
    m = m * 10 + d;
    digits = true;
  }
  if (eptr) *eptr = p;
  if (overflow) {
    errno = ERANGE;
    return std::numeric_limits<T>::max();
  }
  if (!digits) {
    errno = EINVAL;
    return 0;
  }
  errno = 0;
  if (neg && m != 0) return static_cast<T>(-static_cast<T>(m - 1) - 1);
  return static_cast<T>(m);
}

#endif
