// Non-blocking look at a suspended connection's socket.
#include "websvcs/server/connection_probe.h"

#include <sys/socket.h>

#include <cerrno>

bool Connection_Probe::connected() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (gone_) return false;
  if (fd_ < 0) return true;
  char byte;
  const ssize_t n = recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  // Data waiting (a pipelined request) or nothing yet: still there. End of
  // stream or an error other than "nothing to read": gone.
  if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) return true;
  gone_ = true;
  return false;
}

void Connection_Probe::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  fd_ = -1;
  gone_ = true;
}
