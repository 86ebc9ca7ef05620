// A minimal HTTP/1.1 client for tests over a raw loopback socket: what a
// server under test sends, byte for byte, with a guard time on every read.
#ifndef TESTING_HTTP_CLIENT_H
#define TESTING_HTTP_CLIENT_H

#include <string>

struct Http_Reply {
  int status = 0;  // 0: no reply (connection failed or closed early)
  std::string headers;
  std::string body;
  bool sent = false;  // http_request: the whole request went out
};

// A socket connected to 127.0.0.1:`port`, from `source` when given
// (another loopback address stands for another client); closed on
// destruction. A read or send that waits `guard_seconds` fails, so a hung
// server fails the test instead of blocking the suite.
class Test_Socket {
 public:
  explicit Test_Socket(unsigned int port, int guard_seconds = 60, const char* source = nullptr);
  ~Test_Socket();
  Test_Socket(const Test_Socket&) = delete;
  Test_Socket& operator=(const Test_Socket&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool send_all(const std::string& s);
  // One reply whose body length is given by Content-Length, leaving the
  // connection open; what arrived when the peer closes first.
  std::string read_reply();
  // Everything until the peer closes (or the guard time).
  std::string read_all();

 private:
  int fd_;
};

// The status, headers and body of a raw reply; status 0 when it is not one.
Http_Reply parse_reply(const std::string& raw);

// A socket listening on 127.0.0.1:`port` (0: one the system picks) for
// as long as it lives: a port taken, or a server scripted by the test.
class Test_Listener {
 public:
  explicit Test_Listener(unsigned int port = 0);
  ~Test_Listener();
  Test_Listener(const Test_Listener&) = delete;
  Test_Listener& operator=(const Test_Listener&) = delete;
  bool ok() const { return port_ != 0; }
  unsigned int port() const { return port_; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  unsigned int port_ = 0;
};

// Sends one request (with "Connection: close") to 127.0.0.1 and reads the
// reply; a body (or POST) is sent as application/json.
Http_Reply http_request(unsigned int port, const std::string& method, const std::string& target,
                        const std::string& body = "", const std::string& extra_headers = "");

#endif
