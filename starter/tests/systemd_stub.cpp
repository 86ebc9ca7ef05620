// Stand-in for systemd's client library, loaded by the service host through
// LIBSYSTEMD_FILENAME in tests.
//
//   sd_booted()            1, or the number in STUB_SD_BOOTED when set
//   sd_notify(u, state)    sends `state` as one datagram (never waiting for
//                          room: a full queue drops it) to the Unix socket
//                          named by NOTIFY_SOCKET ("@name" for the abstract
//                          namespace); returns 1, or a negative errno
//   sd_watchdog_enabled    (only when built with STUB_WATCHDOG_ENABLED)
//                          reads WATCHDOG_USEC like the real library
//
// Built without sd_notify (STUB_NO_NOTIFY) it exercises the missing-symbol
// path of the host.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" {

__attribute__((visibility("default"))) int sd_booted() {
  const char* value = std::getenv("STUB_SD_BOOTED");
  return value != nullptr ? std::atoi(value) : 1;
}

#ifndef STUB_NO_NOTIFY
__attribute__((visibility("default"))) int sd_notify(int, const char* state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path == nullptr || *path == '\0') return 0;
  struct sockaddr_un addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  const size_t len = std::strlen(path);
  if (len >= sizeof addr.sun_path) return -ENAMETOOLONG;
  std::memcpy(addr.sun_path, path, len);
  if (path[0] == '@') addr.sun_path[0] = '\0';
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  const ssize_t n = ::sendto(fd, state, std::strlen(state), MSG_NOSIGNAL | MSG_DONTWAIT,
                             reinterpret_cast<struct sockaddr*>(&addr),
                             static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + len));
  const int err = errno;
  ::close(fd);
  return n < 0 ? -err : 1;
}
#endif

#ifdef STUB_WATCHDOG_ENABLED
__attribute__((visibility("default"))) int sd_watchdog_enabled(int, std::uint64_t* usec) {
  const char* value = std::getenv("WATCHDOG_USEC");
  if (value == nullptr || *value == '\0') return 0;
  const unsigned long long n = std::strtoull(value, nullptr, 10);
  if (n == 0) return -EINVAL;
  if (usec != nullptr) *usec = n;
  return 1;
}
#endif

}  // extern "C"
