// A small HTTP/1.1 client for the daemon's REST API: one request per
// connection ("Connection: close"), over a TCP socket, with one deadline
// for connecting, sending and reading the whole reply.
#ifndef TAPECTL_HTTP_CLIENT_H
#define TAPECTL_HTTP_CLIENT_H

#include <string>

namespace tapectl {

// "http://HOST[:PORT][/PREFIX]": HOST a name, an IPv4 address or an IPv6
// address in brackets; PORT 80 when absent. `prefix` keeps no trailing "/".
struct Url {
  std::string host;
  std::string port;
  std::string prefix;
};
// False with a reason in `error` for anything else (https included).
bool parse_url(const std::string& text, Url& out, std::string& error);

struct Http_Result {
  bool reached = false;  // false: no reply (see error)
  std::string error;     // why not reached, in words
  int status = 0;
  std::string content_type;
  std::string body;  // chunked bodies are decoded
};

// Sends `method` `path` (path and query, appended to the URL's prefix)
// with `body` (sent with Content-Type application/json when not empty)
// and `token` as a bearer token when not empty, and reads the reply
// within `timeout_seconds` (0: no limit).
Http_Result http_call(const Url& url, const std::string& method, const std::string& path,
                      const std::string& body, const std::string& token, int timeout_seconds);

// Reads a reply as received on the socket; false when it is not one.
bool parse_http_reply(const std::string& raw, Http_Result& out);

}  // namespace tapectl

#endif
