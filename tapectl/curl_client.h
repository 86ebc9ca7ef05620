// One request to the daemon's REST API over libcurl (http or https), and
// whether a failed one may still have reached the daemon.
#ifndef TAPECTL_CURL_CLIENT_H
#define TAPECTL_CURL_CLIENT_H

#include <string>

namespace tapectl {

// Checks the daemon's base address: "http://" or "https://", a host, an
// optional port and path prefix; no query, fragment or user name. False
// with a reason in `error` otherwise.
bool check_base_url(const std::string& url, std::string& error);

struct Http_Request {
  std::string base_url;  // checked by check_base_url
  std::string method = "GET";
  std::string path;             // path and query, appended to base_url
  std::string body;             // sent as application/json when not empty or with POST
  std::string token;            // sent as a bearer token when not empty
  std::string ca_file;          // certificates to trust for https; "": the system's store
  long timeout_seconds = 3600;  // the whole call, name lookup included; 0: no limit
};

// What became of a call.
enum class Call_Outcome {
  ANSWERED,   // a complete HTTP reply came (any status)
  NOT_SENT,   // no byte of the request left: name lookup, connection or TLS failed
  NO_ANSWER,  // the request went out, no complete reply came (time-out, connection
              // closed or cut short): the daemon may have acted on it
};

struct Http_Result {
  Call_Outcome outcome = Call_Outcome::NOT_SENT;
  std::string error;  // why not ANSWERED, in words
  long status = 0;
  std::string body;
};

// Performs `request`. The reply ends where HTTP says (length or chunks,
// checked by libcurl); redirects are not followed.
Http_Result http_call(const Http_Request& request);

}  // namespace tapectl

#endif
