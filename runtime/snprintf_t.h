// Printf-style formatting into an inline buffer of N characters that moves
// to a growing heap buffer for longer results, so no result is truncated.
//
//   snprintf_t<4096> s("%s:%s", a, b);
//   if (s.length() >= 0) use(s.c_str());
#ifndef RUNTIME_SNPRINTF_T_H
#define RUNTIME_SNPRINTF_T_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

template <std::size_t N, typename C = char>
class snprintf_t {
  static_assert(std::is_same<C, char>::value, "snprintf_t formats char text");
  static_assert(N > 0, "snprintf_t needs an inline buffer");

 public:
  snprintf_t() { buf_[0] = '\0'; }
  // Formats at once; check length() (-1 after a formatting error).
  explicit snprintf_t(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    buf_[0] = '\0';
    va_list args;
    va_start(args, fmt);
    vset(fmt, args);
    va_end(args);
  }
  ~snprintf_t() { std::free(ptr_); }
  snprintf_t(const snprintf_t&) = delete;
  snprintf_t& operator=(const snprintf_t&) = delete;

  // Replaces the content with the formatted text. The length of the text,
  // or -1 on a formatting error or when memory runs out (the text is then
  // empty; length() is -1 after a formatting error, 0 when memory ran out).
  int set(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, fmt);
    const int n = vset(fmt, args);
    va_end(args);
    return n;
  }

  int vset(const C* fmt, va_list args) {
    for (;;) {
      C* target = ptr_ ? ptr_ : buf_;
      const std::size_t size = ptr_ ? size_ : N;
      va_list copy;
      va_copy(copy, args);
      const int n = std::vsnprintf(target, size, fmt, copy);
      va_end(copy);
      if (n < 0) {
        target[0] = '\0';
        len_ = -1;
        return -1;
      }
      len_ = n;
      if (static_cast<std::size_t>(n) < size) return n;
      const std::size_t want = static_cast<std::size_t>(n) + 1;
      C* grown = static_cast<C*>(std::realloc(ptr_, want * sizeof(C)));
      if (grown == nullptr) {
        target[0] = '\0';
        len_ = 0;
        return -1;
      }
      ptr_ = grown;
      size_ = want;
    }
  }

  // The formatted text: the heap buffer when there is one, else the inline
  // buffer. Valid until the next set() or the destruction.
  const C* c_str() const { return ptr_ ? ptr_ : buf_; }
  const C* data() const { return c_str(); }
  // Length of the last result: -1 after a formatting error, 0 when memory
  // ran out.
  int length() const { return len_; }

 private:
  C buf_[N];
  int len_ = 0;
  C* ptr_ = nullptr;
  std::size_t size_ = 0;
};

#endif
