// Close-on-exec open family and the probes that choose its members.
#include "runtime/compat_open.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

open_cloexec_t open_cloexec = nullptr;
fopen_compat_t fopen_compat = nullptr;
freopen_compat_t freopen_compat = nullptr;
fdopen_compat_t fdopen_compat = nullptr;
popen_compat_t popen_compat = nullptr;
int o_cloexec_enabled_ = 0;

namespace {

mode_t mode_arg(int flags, va_list args) {
  return (flags & O_CREAT) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

bool fd_is_cloexec(int fd) {
  const int flags = ::fcntl(fd, F_GETFD);
  return flags != -1 && (flags & FD_CLOEXEC) != 0;
}

bool wants_cloexec(const char* mode) { return mode != nullptr && std::strchr(mode, 'e') != nullptr; }

FILE* finish_stream(FILE* stream, const char* mode) {
  if (stream != nullptr && wants_cloexec(mode)) enable_fd_cloexec(::fileno(stream));
  return stream;
}

bool probe_open() {
  int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (fd == -1) fd = ::open("/dev/zero", O_RDONLY | O_CLOEXEC);
  if (fd == -1) return false;
  const bool ok = fd_is_cloexec(fd);
  ::close(fd);
  return ok;
}

bool probe_fopen() {
  FILE* f = ::fopen("/dev/null", "we");
  if (f == nullptr) f = ::fopen("/dev/zero", "re");
  if (f == nullptr) return false;
  const bool ok = fd_is_cloexec(::fileno(f));
  ::fclose(f);
  return ok;
}

bool probe_fdopen() {
  int fd = ::open("/dev/null", O_WRONLY);
  const char* mode = "we";
  if (fd == -1) {
    fd = ::open("/dev/zero", O_RDONLY);
    mode = "re";
  }
  if (fd == -1) return false;
  FILE* f = ::fdopen(fd, mode);
  if (f == nullptr) {
    ::close(fd);
    return false;
  }
  const bool ok = fd_is_cloexec(::fileno(f));
  ::fclose(f);
  return ok;
}

bool probe_popen() {
  FILE* f = ::popen("/bin/true", "re");
  if (f == nullptr) return false;
  const bool ok = fd_is_cloexec(::fileno(f));
  ::pclose(f);
  return ok;
}

struct Compat_Opens_Init {
  Compat_Opens_Init() { init_compat_opens(); }
};
const Compat_Opens_Init compat_opens_init;

}  // namespace

int open_cloexec_direct(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_arg(flags, args);
  va_end(args);
  return ::open(path, flags | O_CLOEXEC, mode);
}

int open_cloexec_indirect(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_arg(flags, args);
  va_end(args);
  const int fd = ::open(path, flags, mode);
  if (fd == -1) return -1;
  if (enable_fd_cloexec(fd) == -1) {
    // A descriptor that would leak into child programs is not handed out.
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

FILE* fopen_indirect(const char* path, const char* mode) {
  return finish_stream(::fopen(path, mode), mode);
}

FILE* freopen_indirect(const char* path, const char* mode, FILE* stream) {
  return finish_stream(::freopen(path, mode, stream), mode);
}

FILE* fdopen_indirect(int fd, const char* mode) { return finish_stream(::fdopen(fd, mode), mode); }

FILE* popen_indirect(const char* command, const char* mode) {
  return finish_stream(::popen(command, mode), mode);
}

int enable_fd_cloexec(int fd) {
  const int flags = ::fcntl(fd, F_GETFD);
  if (flags == -1) return -1;
  return ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

int o_cloexec_enabled() { return o_cloexec_enabled_; }

void init_compat_opens() {
  const int saved = errno;
  if (open_cloexec == nullptr) {
    open_cloexec = probe_open() ? &open_cloexec_direct : &open_cloexec_indirect;
  }
  if (fopen_compat == nullptr || freopen_compat == nullptr) {
    const bool direct = probe_fopen();
    if (fopen_compat == nullptr) fopen_compat = direct ? &::fopen : &fopen_indirect;
    if (freopen_compat == nullptr) freopen_compat = direct ? &::freopen : &freopen_indirect;
  }
  if (fdopen_compat == nullptr) fdopen_compat = probe_fdopen() ? &::fdopen : &fdopen_indirect;
  if (popen_compat == nullptr) popen_compat = probe_popen() ? &::popen : &popen_indirect;
  o_cloexec_enabled_ = open_cloexec == &open_cloexec_direct ? 1 : 0;
  errno = saved;
}
