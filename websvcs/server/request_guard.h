// Checks that keep web pages out: a browser may be made to send requests
// to the loopback address by any page it shows (a cross-site form or
// fetch needs no preflight), or, through DNS rebinding, under a host name
// the attacker controls. Such requests are recognised by their headers:
//   - "Origin" present and not the server's own origin (cross-site);
//   - "Host" naming something other than a loopback address, "localhost"
//     or a name the configuration allows (DNS rebinding).
// Callers that are not browsers (curl, the backup software) send no
// Origin and the address they connected to as Host. Pure functions.
#ifndef WEBSVCS_SERVER_REQUEST_GUARD_H
#define WEBSVCS_SERVER_REQUEST_GUARD_H

#include <string>
#include <vector>

// True when the Host header value `host` (null when the request has none,
// which only HTTP/1.0 allows) names a loopback address (numeric, IPv6 in
// brackets), "localhost", or one of `allowed_names` (lower case, no port),
// with or without ":port". Names compare without regard to case and to a
// trailing dot. An empty, malformed or foreign Host is false.
bool host_allowed(const char* host, const std::vector<std::string>& allowed_names);

// True when the Origin header value `origin` is absent (null) or is the
// server's own origin: "http://" ("https://" when `own_url` is an https
// URL) followed by the Host header `host` the
// browser addressed (compared without regard to case), or `own_url` when
// the request has no Host. "null" and every other origin are false.
bool origin_allowed(const char* origin, const char* host, const std::string& own_url);

#endif
