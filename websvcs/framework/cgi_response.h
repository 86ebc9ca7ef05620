// The HTTP status and extra headers of one reply.
#ifndef WEBSVCS_FRAMEWORK_CGI_RESPONSE_H
#define WEBSVCS_FRAMEWORK_CGI_RESPONSE_H

#include <map>
#include <string>

// Standard reason phrase of an HTTP status ("Not Found"), or "Unknown".
const char* http_reason_phrase(int code);

class CGI_Response {
 public:
  CGI_Response() : status_(0) {}

  // Sets the status. `reason` null means the standard phrase of `code`.
  // A code outside 100..599 is stored as 500. Returns 0.
  int status(int code, const char* reason = nullptr);
  // The status set so far, 0 when none was set.
  int status() const { return status_; }
  const std::string& reason() const { return reason_; }

  // Adds or replaces one reply header. Names and values holding CR or LF
  // are refused (false), so a handler cannot split the reply.
  bool header(const std::string& name, const std::string& value);
  const std::map<std::string, std::string>& headers() const { return headers_; }

 private:
  int status_;
  std::string reason_;
  std::map<std::string, std::string> headers_;
};

#endif
