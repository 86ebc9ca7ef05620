// mkdir -p and the longest existing directory prefix of a path.
#include "runtime/mkdir_p.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <ace/OS_NS_string.h>
#include <ace/OS_NS_sys_stat.h>

namespace {

// Walks `copy` (a writable duplicate of the path) component by component.
// For each prefix, `visit(prefix)` runs with the text temporarily ended after
// the component; it returns false to stop the walk. Runs of `sep` count as
// one separator.
template <typename C, typename Visit>
void walk_prefixes(C* copy, C sep, Visit visit) {
  C* p = copy;
  while (*p != C('\0')) {
    while (*p == sep) ++p;
    if (*p == C('\0')) break;
    while (*p != C('\0') && *p != sep) ++p;
    const C saved = *p;
    *p = C('\0');
    const bool go_on = visit(copy);
    *p = saved;
    if (!go_on) break;
  }
}

template <typename C, typename Callback>
int mkdir_p_t(const C* path, mode_t mode, C sep, const Callback& cb) {
  if (path == nullptr || *path == C('\0')) {
    errno = EINVAL;
    return -1;
  }
  C* copy = ACE_OS::strdup(path);
  if (copy == nullptr) return -1;
  int error = 0;
  walk_prefixes(copy, sep, [&](const C* prefix) {
    ACE_stat st;
    if (ACE_OS::stat(prefix, &st) != 0) {
      if (ACE_OS::mkdir(prefix, mode) == 0) {
        if (cb && !cb(prefix)) return false;
        return true;
      }
      if (errno == EEXIST) return true;
      error = errno;
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      error = ENOTDIR;
      return false;
    }
    return true;
  });
  std::free(copy);
  if (error == 0) return 0;
  errno = error;
  return -1;
}

}  // namespace

int mkdir_p(const char* path, mode_t mode, const Mkdir_Callback& cb) {
  return mkdir_p_t(path, mode, '/', cb);
}

int mkdir_p(const wchar_t* path, mode_t mode, const Mkdir_Callback_W& cb) {
  return mkdir_p_t(path, mode, L'/', cb);
}

char* longest_exist_dirname(const char* path, ACE_stat* st) {
  if (st == nullptr || path == nullptr || *path == '\0') {
    errno = EINVAL;
    return nullptr;
  }
  char* copy = ACE_OS::strdup(path);
  if (copy == nullptr) return nullptr;
  int error = 0;
  // Where the last existing prefix ends in `copy`; null while none exists.
  char* cut = nullptr;
  walk_prefixes(copy, '/', [&](char* prefix) {
    ACE_stat prefix_st;
    if (ACE_OS::stat(prefix, &prefix_st) != 0) {
      error = errno;
      return false;
    }
    if (!S_ISDIR(prefix_st.st_mode)) {
      error = ENOTDIR;
      return false;
    }
    *st = prefix_st;
    cut = prefix + std::strlen(prefix);
    return true;
  });
  if (error == ENOENT) {
    if (cut != nullptr) {
      error = 0;
    } else if (copy[0] == '/') {
      if (ACE_OS::stat("/", st) != 0) {
        error = errno;
      } else {
        error = 0;
        cut = copy + 1;
      }
    }
  }
  if (error == 0 && cut == nullptr) {
    // Only separators: the path is the root itself.
    if (ACE_OS::stat("/", st) != 0) {
      error = errno;
    } else {
      cut = copy + 1;
    }
  }
  if (error != 0) {
    std::free(copy);
    errno = error;
    return nullptr;
  }
  *cut = '\0';
  errno = 0;
  return copy;
}
