// Directory helpers. They report through their result and errno only and
// never log.
#ifndef RUNTIME_MKDIR_P_H
#define RUNTIME_MKDIR_P_H

#include <functional>
#include <sys/types.h>

#include <ace/OS_NS_sys_stat.h>

// Called with the path of each directory mkdir_p created; returning false
// stops the walk early (mkdir_p still succeeds).
typedef std::function<bool(const char*)> Mkdir_Callback;
typedef std::function<bool(const wchar_t*)> Mkdir_Callback_W;

// Creates `path` and every missing parent with permission `mode`. Runs of
// "/" count as one separator. Returns 0 (also when everything existed), or
// -1 with errno: EINVAL for a null or empty path, ENOTDIR when a prefix
// exists but is not a directory, or the error of the failing mkdir.
int mkdir_p(const char* path, mode_t mode, const Mkdir_Callback& cb = Mkdir_Callback());
int mkdir_p(const wchar_t* path, mode_t mode,
            const Mkdir_Callback_W& cb = Mkdir_Callback_W());

// The longest leading part of `path`, cut at a "/" boundary, that exists
// and is a directory; `*st` receives its status. An absolute path none of
// whose components exists gives "/". Returns a malloc'd text that the
// caller releases with free(), and sets errno to 0; or null with errno:
// EINVAL (`path` or `st` null or `path` empty), ENOENT (a relative path
// whose first component is missing), ENOTDIR, EACCES, ...
char* longest_exist_dirname(const char* path, ACE_stat* st);

#endif
