// A minimal blocking HTTP/1.1 client for the end-to-end tests: one request
// per connection ("Connection: close"), Content-Length or close-delimited
// bodies, loopback only.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_TESTS_HTTP_CLIENT_H
#define WEBSVCS_CONTROLLER_TAPECTL_TESTS_HTTP_CLIENT_H

#include <string>

namespace tapectl_test {

struct Http_Reply {
  int status = 0;  // 0 when no reply could be read
  std::string body;
  std::string error;  // why status is 0
};

// Sends `method target` to 127.0.0.1:`port` with `body` (as JSON when not
// empty) and reads the whole reply. `timeout_seconds` bounds each socket
// wait, not the request as a whole.
Http_Reply http_request(int port, const std::string& method, const std::string& target,
                        const std::string& body = std::string(), int timeout_seconds = 600);

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0,
// read back, released).
int free_loopback_port();

}  // namespace tapectl_test

#endif
