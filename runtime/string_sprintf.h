// Printf-style formatting into a std::string of any length.
#ifndef RUNTIME_STRING_SPRINTF_H
#define RUNTIME_STRING_SPRINTF_H

#include <cstdarg>
#include <string>

// Replaces the content of `s` with the formatted text. The new size of `s`,
// or a negative number on a formatting error (`s` is then empty).
int string_sprintf(std::string& s, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// As string_sprintf with an argument list (left unconsumed for the caller);
// appends to the existing content when `append` is true (on a formatting
// error `s` is then restored to its earlier content).
int string_vsprintf(std::string& s, const char* fmt, va_list args, bool append = false)
    __attribute__((format(printf, 2, 0)));

#endif
