// Configuration of the web service: where it listens, its limits, and the
// routes from request paths to handler plug-ins. See README.md for the
// file format.
#ifndef WEBSVCS_SERVER_WEB_CONFIG_H
#define WEBSVCS_SERVER_WEB_CONFIG_H

#include <cstdint>
#include <string>
#include <vector>

#include "json_spirit/json_spirit_value.h"

struct Web_Route_Config {
  std::string path;     // exact request path, starting with "/"
  std::string library;  // plug-in file; relative names are resolved later
  std::string factory;  // exported factory, "_make_" + class name
  bool prefix = false;  // also serve paths below: path + "/..."
  // "public": GET and HEAD are served without the bearer token. For pages
  // that hold no data of their own (the console's files, whose requests
  // for data still carry the token).
  bool open = false;
  // The handler answers from memory at once: no device, database or robot
  // work, no lock held across any wait. Set only by the built-in routes
  // (default_routes.cpp), never read from web.conf: a route the file
  // configures runs on the workers. See Route::answers_at_once.
  bool at_once = false;
  std::vector<std::string> args;  // handed to the handler's init()
};

struct Web_Config {
  static const char* const DEFAULT_LISTEN;  // "127.0.0.1"
  enum { DEFAULT_PORT = 8870 };
  static const std::uint64_t DEFAULT_MAX_BODY_BYTES = 65536;
  enum {
    DEFAULT_CONNECTION_TIMEOUT_SECONDS = 30,
    DEFAULT_REQUEST_READ_TIMEOUT_SECONDS = 10,
    DEFAULT_MAX_CONNECTIONS = 2048,
    DEFAULT_HEADER_TIMEOUT_SECONDS = 10,
    DEFAULT_MAX_CONNECTIONS_PER_ADDRESS = 64
  };

  std::string listen = DEFAULT_LISTEN;  // numeric IPv4 or IPv6 address
  unsigned int port = DEFAULT_PORT;     // 0: any free port
  std::uint64_t max_body_bytes = DEFAULT_MAX_BODY_BYTES;
  unsigned int connection_timeout_seconds = DEFAULT_CONNECTION_TIMEOUT_SECONDS;
  // Longest time from the request line to the end of the body; a client
  // that sends slower has its connection closed.
  unsigned int request_read_timeout_seconds = DEFAULT_REQUEST_READ_TIMEOUT_SECONDS;
  unsigned int max_connections = DEFAULT_MAX_CONNECTIONS;
  // Longest time from accepting a connection (or from the end of the
  // previous request on it, plus the idle timeout) to a request's complete
  // headers; the connection is closed past it.
  unsigned int header_timeout_seconds = DEFAULT_HEADER_TIMEOUT_SECONDS;
  // Connections one client address may hold at once; more are refused
  // when accepted.
  unsigned int max_connections_per_address = DEFAULT_MAX_CONNECTIONS_PER_ADDRESS;
  std::string token_file;  // empty: no token
  // PEM files of the server's certificate (chain) and private key; both
  // set: the server speaks https only. Both empty: plain http.
  std::string tls_certificate;
  std::string tls_key;
  // Host names (lower case, no port, no trailing dot) that requests may
  // address besides "localhost" (every IP address passes), and IPv6
  // addresses without brackets.
  std::vector<std::string> allowed_hosts;
  std::vector<Web_Route_Config> routes;
  // "default_routes": whether the service serves the built-in routes
  // (default_routes.h) under those of `routes`.
  bool default_routes = true;
};

// Reads a configuration object into `out` (missing keys keep their
// defaults). False with a one-line reason in `error` when a key has the
// wrong type or an unusable value, when two routes share a path, when an
// allowed host is neither a plain name nor an IPv6 address, when the
// address is not loopback and no token file is named, or when only one of "tls_certificate" and
// "tls_key" is given.
bool parse_web_config(const json_spirit::Value& v, Web_Config& out, std::string& error);

// Reads and parses the file at `path`.
bool load_web_config(const std::string& path, Web_Config& out, std::string& error);

#endif
