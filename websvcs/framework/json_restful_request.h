// The request side of one HTTP exchange, as the handlers see it.
#ifndef WEBSVCS_FRAMEWORK_JSON_RESTFUL_REQUEST_H
#define WEBSVCS_FRAMEWORK_JSON_RESTFUL_REQUEST_H

#include <functional>
#include <map>
#include <string>
#include <utility>

// Method codes of JSON_RESTful_Request::method(). The values are fixed:
// handlers compare against them (POST is 9).
enum JSON_RESTful_Method {
  METHOD_UNKNOWN = 0,
  METHOD_OPTIONS = 1,
  METHOD_GET = 2,
  METHOD_HEAD = 3,
  METHOD_PUT = 4,
  METHOD_DELETE = 5,
  METHOD_TRACE = 6,
  METHOD_CONNECT = 7,
  METHOD_PATCH = 8,
  METHOD_POST = 9
};

// Code of an HTTP method name (case-sensitive, as HTTP says), METHOD_UNKNOWN
// for any other text.
int method_from_name(const char* name);
// Name of a method code, "UNKNOWN" for codes without one.
const char* method_name(int code);

class JSON_RESTful_Request {
 public:
  JSON_RESTful_Request() : method_(METHOD_UNKNOWN), loopback_(false) {}

  // The method code (JSON_RESTful_Method).
  int method() const { return method_; }

  // path(1): the request path without the query string, as a C string
  // (for example "/d2/r/tapectl/list"). path(0): the request target as it
  // arrived, query string included. Valid as long as the request lives.
  const char* path(int without_query = 1) const;

  // The query string as it arrived, without the "?"; empty when none.
  const std::string& query() const { return query_; }

  // The part of the path below the route that matched, without its leading
  // "/"; empty for an exact match.
  const std::string& uri_suffix() const { return uri_suffix_; }

  // Request headers; names are lower case.
  const std::map<std::string, std::string>& headers() const { return headers_; }
  // The value of header `name` (any case), or null.
  const std::string* header(const std::string& name) const;

  // Numeric address of the client ("127.0.0.1", "::1"), and whether it is a
  // loopback address.
  const std::string& remote_addr() const { return remote_addr_; }
  bool loopback() const { return loopback_; }

  // Whether the client that sent this request is still connected: false
  // once it has closed its connection (or once the request has been
  // answered), so that work nobody waits for is not started. Cheap,
  // non-blocking, and safe to call from any thread while the handler runs.
  // True when it cannot be told (a channel without a connection, as in
  // tests, unless they set a probe).
  bool client_connected() const { return client_probe_ ? client_probe_() : true; }

  // Setters used by the server and by test channels.
  void set_method(int m) { method_ = m; }
  // Splits `target` at the first "?" into path and query string.
  void set_target(const std::string& target);
  void set_uri_suffix(const std::string& s) { uri_suffix_ = s; }
  void set_header(const std::string& name, const std::string& value);
  // Also sets loopback() from the address.
  void set_remote_addr(const std::string& addr);
  // What client_connected() asks; must be thread-safe. Set before the
  // handler runs, not changed while it does.
  void set_client_probe(std::function<bool()> probe) { client_probe_ = std::move(probe); }

 private:
  int method_;
  std::string target_;
  std::string path_;
  std::string query_;
  std::string uri_suffix_;
  std::map<std::string, std::string> headers_;
  std::string remote_addr_;
  bool loopback_;
  std::function<bool()> client_probe_;
};

// True for 127.0.0.0/8, ::1 and ::ffff:127.x.y.z in numeric form.
bool is_loopback_address(const std::string& addr);

#endif
