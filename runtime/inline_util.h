// File-name tests.
#ifndef RUNTIME_INLINE_UTIL_H
#define RUNTIME_INLINE_UTIL_H

#include <cstring>
#include <sys/stat.h>

// The position of the last "." in `path`, or null when there is none or
// `path` is null or "". The extension is the text after it.
inline const char* find_file_extension(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  return std::strrchr(path, '.');
}

// True exactly when the text after the last "." of `path` equals `ext`
// (case-sensitive). False when either is null or "", or `path` has no ".".
// ".conf" has the extension "conf"; "conf" has none.
inline bool is_file_extension(const char* path, const char* ext) {
  if (ext == nullptr || *ext == '\0') return false;
  const char* dot = find_file_extension(path);
  return dot != nullptr && std::strcmp(dot + 1, ext) == 0;
}

// True when the status of `path` can be read (symbolic links followed) and
// it is a regular file.
inline bool is_regular_file(const char* path) {
  struct stat st;
  return path != nullptr && ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

#endif
