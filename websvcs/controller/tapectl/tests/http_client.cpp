#include "websvcs/controller/tapectl/tests/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tapectl_test {

namespace {

class Socket {
 public:
  Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

bool wait_for(int fd, short events, int timeout_seconds) {
  pollfd p{fd, events, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, timeout_seconds * 1000);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

}  // namespace

int free_loopback_port() {
  Socket s;
  sockaddr_in a = loopback(0);
  if (s.fd() < 0 || ::bind(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
  socklen_t len = sizeof a;
  if (::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return -1;
  return ntohs(a.sin_port);
}

Http_Reply http_request(int port, const std::string& method, const std::string& target,
                        const std::string& body, int timeout_seconds) {
  Http_Reply reply;
  Socket s;
  sockaddr_in a = loopback(port);
  if (s.fd() < 0 || ::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    reply.error = std::string("connect: ") + std::strerror(errno);
    return reply;
  }
  std::string request =
      method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (!body.empty()) {
    request +=
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  }
  request += "\r\n";
  request += body;
  // The server may answer (413) and close before the whole body is sent;
  // a failed send is then not an error as long as a reply can be read.
  for (std::size_t sent = 0; sent < request.size();) {
    if (!wait_for(s.fd(), POLLOUT, timeout_seconds)) break;
    const ssize_t n = ::send(s.fd(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    sent += static_cast<std::size_t>(n);
  }

  std::string raw;
  char buf[65536];
  for (;;) {
    if (!wait_for(s.fd(), POLLIN, timeout_seconds)) {
      reply.error = "timeout";
      break;
    }
    const ssize_t n = ::recv(s.fd(), buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    raw.append(buf, static_cast<std::size_t>(n));
  }

  const std::size_t head_end = raw.find("\r\n\r\n");
  if (head_end == std::string::npos || raw.compare(0, 9, "HTTP/1.1 ") != 0) {
    if (reply.error.empty()) reply.error = "no reply: '" + raw.substr(0, 200) + "'";
    return reply;
  }
  reply.status = std::atoi(raw.c_str() + 9);
  reply.body = raw.substr(head_end + 4);
  // Content-Length (any case) bounds the body.
  std::string head = raw.substr(0, head_end);
  for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t cl = head.find("\r\ncontent-length:");
  if (cl != std::string::npos) {
    const std::size_t n = std::strtoul(head.c_str() + cl + 17, nullptr, 10);
    if (reply.body.size() > n) reply.body.resize(n);
  }
  return reply;
}

}  // namespace tapectl_test
