// Checks that keep web pages out: a browser may be made to send requests
// to the loopback address by any page it shows (a cross-site form, fetch
// or image needs no preflight), or, through DNS rebinding, under a host
// name the attacker controls. Such requests are recognised by their
// headers:
//   - "Host" naming a host name other than "localhost" or a name the
//     configuration allows (DNS rebinding needs a name: a Host that is an
//     IP address is never the attacker's);
//   - "Origin" present and not the server's own origin (cross-site);
//   - "Sec-Fetch-Site" saying "cross-site" or "same-site" (a request that
//     another site's page made, with or without an Origin).
// Callers that are not browsers (curl, the backup software) send neither
// Origin nor Sec-Fetch-Site, and the address they connected to as Host.
#ifndef WEBSVCS_SERVER_REQUEST_GUARD_H
#define WEBSVCS_SERVER_REQUEST_GUARD_H

#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// True when the Host header value `host` (null when the request has none,
// which only HTTP/1.0 allows) is a numeric IPv4 address or a bracketed
// numeric IPv6 address, "localhost", or one of `allowed_names` (lower case,
// no port), with or without ":port". Names compare without regard to case
// and to a trailing dot. An empty, malformed or foreign Host is false.
// Pure.
bool host_allowed(const char* host, const std::vector<std::string>& allowed_names);

// True when the Origin header value `origin` is absent (null) or is the
// server's own origin: "http://" ("https://" when `own_url` is an https
// URL) followed by the Host header `host` the
// browser addressed (compared without regard to case), or `own_url` when
// the request has no Host. "null" and every other origin are false. Pure.
bool origin_allowed(const char* origin, const char* host, const std::string& own_url);

// True unless the Sec-Fetch-Site header value `site` says the request was
// made by a page of another site ("cross-site", "same-site", any case);
// absent (null), "same-origin" and "none" (typed by the user) are true.
// `public_read`: the request is a GET or HEAD of a public route (the
// console's files, which any page may link to): always true. Pure.
bool fetch_site_allowed(const char* site, bool public_read);

// Remembers the Host values refused so far, so each is logged once. Holds
// at most `capacity` of them; past that, first_refusal() is false for
// every new one (a flood of made-up names logs no more). Thread-safe.
class Refused_Hosts {
 public:
  explicit Refused_Hosts(std::size_t capacity = 256) : capacity_(capacity) {}
  // True the first time `host` is given (while there is room).
  bool first_refusal(const std::string& host);

 private:
  const std::size_t capacity_;
  std::mutex mutex_;
  std::set<std::string> seen_;  // guarded by mutex_
};

#endif
