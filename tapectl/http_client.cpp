// HTTP/1.1 over a socket, enough for the daemon's replies.
#include "tapectl/http_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace tapectl {

namespace {

typedef std::chrono::steady_clock Steady;

// A socket descriptor, closed on destruction.
class Socket {
 public:
  Socket() = default;
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

 private:
  int fd_ = -1;
};

// Milliseconds left before `deadline` for poll(): -1 without a deadline.
int left_ms(bool limited, Steady::time_point deadline) {
  if (!limited) return -1;
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd`; false with `error` set on time-out or failure.
bool wait_for(int fd, short events, bool limited, Steady::time_point deadline, std::string& error) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, left_ms(limited, deadline));
    if (n > 0) return true;
    if (n == 0) {
      error = "no answer in time";
      return false;
    }
    if (errno != EINTR) {
      error = std::strerror(errno);
      return false;
    }
  }
}

// Connects to one of the addresses of host:port before the deadline.
bool connect_to(const Url& url, Socket& sock, bool limited, Steady::time_point deadline,
                std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &found);
  if (rc != 0) {
    error = std::string("cannot resolve ") + url.host + ": " + ::gai_strerror(rc);
    return false;
  }
  error = "no address";
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    sock.reset(
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (sock.get() < 0) {
      error = std::strerror(errno);
      continue;
    }
    if (::connect(sock.get(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        error = std::strerror(errno);
        continue;
      }
      if (!wait_for(sock.get(), POLLOUT, limited, deadline, error)) continue;
      int so_error = 0;
      socklen_t len = sizeof so_error;
      ::getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, &so_error, &len);
      if (so_error != 0) {
        error = std::strerror(so_error);
        continue;
      }
    }
    ::freeaddrinfo(found);
    return true;
  }
  ::freeaddrinfo(found);
  sock.reset(-1);
  return false;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The value of header `name` (lower case) in `head`, "" when absent.
std::string header(const std::string& head, const std::string& name) {
  std::string::size_type pos = 0;
  while ((pos = head.find("\r\n", pos)) != std::string::npos) {
    pos += 2;
    const std::string::size_type end = head.find("\r\n", pos);
    const std::string line =
        head.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    const std::string::size_type colon = line.find(':');
    if (colon != std::string::npos && lower(line.substr(0, colon)) == name) {
      std::string v = line.substr(colon + 1);
      v.erase(0, v.find_first_not_of(" \t"));
      v.erase(v.find_last_not_of(" \t") + 1);
      return v;
    }
  }
  return std::string();
}

bool dechunk(const std::string& in, std::string& out) {
  out.clear();
  std::string::size_type pos = 0;
  for (;;) {
    const std::string::size_type eol = in.find("\r\n", pos);
    if (eol == std::string::npos) return false;
    char* end = nullptr;
    const unsigned long size = std::strtoul(in.c_str() + pos, &end, 16);
    if (end == in.c_str() + pos) return false;
    pos = eol + 2;
    if (size == 0) return true;
    if (in.size() < pos + size) return false;
    out.append(in, pos, size);
    pos += size + 2;
  }
}

}  // namespace

bool parse_url(const std::string& text, Url& out, std::string& error) {
  const std::string scheme = "http://";
  if (text.compare(0, scheme.size(), scheme) != 0) {
    error = "the URL must start with http://";
    return false;
  }
  std::string rest = text.substr(scheme.size());
  const std::string::size_type slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  out.prefix = slash == std::string::npos ? "" : rest.substr(slash);
  while (!out.prefix.empty() && out.prefix.back() == '/') out.prefix.pop_back();
  out.port = "80";
  if (!authority.empty() && authority[0] == '[') {
    const std::string::size_type close = authority.find(']');
    if (close == std::string::npos) {
      error = "unclosed [ in the URL";
      return false;
    }
    out.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') {
        error = "unexpected text after ] in the URL";
        return false;
      }
      out.port = authority.substr(close + 2);
    }
  } else {
    const std::string::size_type colon = authority.rfind(':');
    out.host = authority.substr(0, colon);
    if (colon != std::string::npos) out.port = authority.substr(colon + 1);
  }
  if (out.host.empty()) {
    error = "no host in the URL";
    return false;
  }
  if (out.port.empty() || out.port.find_first_not_of("0123456789") != std::string::npos ||
      std::atoi(out.port.c_str()) < 1 || std::atoi(out.port.c_str()) > 65535) {
    error = "the URL's port is not a number in 1..65535";
    return false;
  }
  return true;
}

bool parse_http_reply(const std::string& raw, Http_Result& out) {
  const std::string::size_type end = raw.find("\r\n\r\n");
  if (raw.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) return false;
  const std::string::size_type space = raw.find(' ');
  if (space == std::string::npos || space > end) return false;
  out.status = std::atoi(raw.c_str() + space + 1);
  const std::string head = raw.substr(0, end);
  out.content_type = header(head, "content-type");
  std::string body = raw.substr(end + 4);
  if (lower(header(head, "transfer-encoding")).find("chunked") != std::string::npos) {
    std::string plain;
    if (!dechunk(body, plain)) return false;
    body.swap(plain);
  } else {
    const std::string length = header(head, "content-length");
    if (!length.empty()) {
      const unsigned long n = std::strtoul(length.c_str(), nullptr, 10);
      if (body.size() < n) return false;  // cut short
      body.resize(n);
    }
  }
  out.body.swap(body);
  return out.status >= 100 && out.status <= 599;
}

Http_Result http_call(const Url& url, const std::string& method, const std::string& path,
                      const std::string& body, const std::string& token, int timeout_seconds) {
  Http_Result r;
  const bool limited = timeout_seconds > 0;
  const Steady::time_point deadline = Steady::now() + std::chrono::seconds(timeout_seconds);
  Socket sock;
  if (!connect_to(url, sock, limited, deadline, r.error)) return r;

  const bool v6 = url.host.find(':') != std::string::npos;
  std::string request = method + " " + url.prefix + path + " HTTP/1.1\r\n";
  request += "Host: " + (v6 ? "[" + url.host + "]" : url.host) + ":" + url.port + "\r\n";
  request += "User-Agent: tapectl\r\nAccept: */*\r\nConnection: close\r\n";
  if (!token.empty()) request += "Authorization: Bearer " + token + "\r\n";
  if (!body.empty() || method == "POST") {
    request += "Content-Type: application/json\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  request += "\r\n" + body;

  std::size_t sent = 0;
  while (sent < request.size()) {
    if (!wait_for(sock.get(), POLLOUT, limited, deadline, r.error)) return r;
    const ssize_t n =
        ::send(sock.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n < 0) {
      // An early reply (a refusal) may still be waiting to be read.
      break;
    }
    sent += static_cast<std::size_t>(n);
  }

  std::string raw;
  char buf[16384];
  for (;;) {
    if (!wait_for(sock.get(), POLLIN, limited, deadline, r.error)) return r;
    const ssize_t n = ::recv(sock.get(), buf, sizeof buf, 0);
    if (n > 0) {
      raw.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n < 0 && raw.empty()) {
      r.error = std::strerror(errno);
      return r;
    }
    break;  // closed by the daemon: the reply is complete
  }
  if (!parse_http_reply(raw, r)) {
    r.error = raw.empty() ? "the connection closed without a reply" : "the reply is not HTTP";
    return r;
  }
  r.reached = true;
  return r;
}

}  // namespace tapectl
