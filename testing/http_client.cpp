#include "testing/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

Test_Socket::Test_Socket(unsigned int port, int guard_seconds, const char* source)
    : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
  timeval tv{guard_seconds, 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (source && (inet_pton(AF_INET, source, &a.sin_addr) != 1 ||
                 bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)) {
    close(fd_);
    fd_ = -1;
    return;
  }
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

Test_Socket::~Test_Socket() {
  if (fd_ >= 0) close(fd_);
}

bool Test_Socket::send_all(const std::string& s) {
  std::size_t off = 0;
  while (off < s.size()) {
    ssize_t n = ::send(fd_, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<std::size_t>(n);
  }
  return true;
}

std::string Test_Socket::read_reply() {
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = ::recv(fd_, buf, sizeof buf, 0)) > 0;) {
    out.append(buf, n);
    std::string::size_type end = out.find("\r\n\r\n");
    if (end == std::string::npos) continue;
    std::string::size_type cl = out.find("Content-Length: ");
    std::size_t length = cl < end ? std::strtoul(out.c_str() + cl + 16, nullptr, 10) : 0;
    if (out.size() >= end + 4 + length) break;
  }
  return out;
}

std::string Test_Socket::read_all() {
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = ::recv(fd_, buf, sizeof buf, 0)) > 0;) out.append(buf, n);
  return out;
}

Http_Reply parse_reply(const std::string& raw) {
  Http_Reply r;
  std::string::size_type end = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos) return r;
  r.status = std::atoi(raw.c_str() + 9);
  r.headers = raw.substr(0, end);
  r.body = raw.substr(end + 4);
  return r;
}

Http_Reply http_request(unsigned int port, const std::string& method, const std::string& target,
                        const std::string& body, const std::string& extra_headers) {
  Test_Socket s(port);
  if (!s.ok()) return Http_Reply();
  std::string req = method + " " + target + " HTTP/1.1\r\nHost: localhost\r\n" +
                    "Connection: close\r\n" + extra_headers;
  if (!body.empty() || method == "POST")
    req +=
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  req += "\r\n" + body;
  // The server may answer (413) and close before the whole body is sent:
  // a failed send still leaves its reply to read.
  const bool sent = s.send_all(req);
  Http_Reply r = parse_reply(s.read_all());
  r.sent = sent;
  return r;
}

Test_Listener::Test_Listener(unsigned int port)
    : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(fd_, 4) == 0 &&
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port_ = ntohs(a.sin_port);
}

Test_Listener::~Test_Listener() {
  if (fd_ >= 0) ::close(fd_);
}
