// Reading and checking the web service configuration.
#include "websvcs/server/web_config.h"

#include <arpa/inet.h>

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/json_restful_request.h"

const char* const Web_Config::DEFAULT_LISTEN = "127.0.0.1";
const std::uint64_t Web_Config::DEFAULT_MAX_BODY_BYTES;

namespace {

using json_spirit::Object;
using json_spirit::Value;

bool get_string(const Object& o, const char* key, std::string& out, std::string& error) {
  auto it = o.find(key);
  if (it == o.end()) return true;
  if (it->second.type() != json_spirit::str_type) {
    error = std::string("\"") + key + "\" must be a string";
    return false;
  }
  out = it->second.get_str();
  return true;
}

bool get_bool(const Object& o, const char* key, bool& out, std::string& error) {
  auto it = o.find(key);
  if (it == o.end()) return true;
  if (it->second.type() != json_spirit::bool_type) {
    error = std::string("\"") + key + "\" must be true or false";
    return false;
  }
  out = it->second.get_bool();
  return true;
}

bool get_unsigned(const Object& o, const char* key, std::uint64_t min, std::uint64_t max,
                  std::uint64_t& out, std::string& error) {
  auto it = o.find(key);
  if (it == o.end()) return true;
  if (it->second.type() != json_spirit::int_type || it->second.is_uint64() ||
      it->second.get_int64() < 0 || static_cast<std::uint64_t>(it->second.get_int64()) < min ||
      static_cast<std::uint64_t>(it->second.get_int64()) > max) {
    std::ostringstream s;
    s << "\"" << key << "\" must be an integer from " << min << " to " << max;
    error = s.str();
    return false;
  }
  out = static_cast<std::uint64_t>(it->second.get_int64());
  return true;
}

bool parse_route(const Value& v, Web_Route_Config& r, std::string& error) {
  if (v.type() != json_spirit::obj_type) {
    error = "each route must be an object";
    return false;
  }
  const Object& o = v.get_obj();
  if (!get_string(o, "path", r.path, error) || !get_string(o, "library", r.library, error) ||
      !get_string(o, "factory", r.factory, error))
    return false;
  if (r.path.empty() || r.path[0] != '/' || r.path.find_first_of("?#") != std::string::npos) {
    error = "route path \"" + r.path + "\" must start with \"/\" and hold no query";
    return false;
  }
  if (r.library.empty() || r.factory.empty()) {
    error = "route \"" + r.path + "\" needs \"library\" and \"factory\"";
    return false;
  }
  auto p = o.find("prefix");
  if (p != o.end()) {
    if (p->second.type() != json_spirit::bool_type) {
      error = "\"prefix\" must be true or false";
      return false;
    }
    r.prefix = p->second.get_bool();
  }
  // A prefix route serves "path/...", so its own path ends without "/"; an
  // exact route may end with one (the console's "/ui/").
  if (r.prefix && r.path.size() > 1 && r.path.back() == '/') {
    error = "prefix route path \"" + r.path + "\" must not end with \"/\"";
    return false;
  }
  auto pub = o.find("public");
  if (pub != o.end()) {
    if (pub->second.type() != json_spirit::bool_type) {
      error = "\"public\" must be true or false";
      return false;
    }
    r.open = pub->second.get_bool();
  }
  auto a = o.find("args");
  if (a != o.end()) {
    if (a->second.type() != json_spirit::array_type) {
      error = "\"args\" must be an array of strings";
      return false;
    }
    for (const Value& x : a->second.get_array()) {
      if (x.type() != json_spirit::str_type) {
        error = "\"args\" must be an array of strings";
        return false;
      }
      r.args.push_back(x.get_str());
    }
  }
  return true;
}

// "allowed_hosts": host names as a browser sends them in Host, without
// port; stored lower case without a trailing dot. IPv6 addresses (with or
// without brackets) are taken too, though every address passes the Host
// check anyway.
bool parse_allowed_hosts(const Object& o, std::vector<std::string>& out, std::string& error) {
  auto a = o.find("allowed_hosts");
  if (a == o.end()) return true;
  error = "\"allowed_hosts\" must be an array of host names";
  if (a->second.type() != json_spirit::array_type) return false;
  for (const Value& x : a->second.get_array()) {
    if (x.type() != json_spirit::str_type) return false;
    std::string name = x.get_str();
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (name.size() > 1 && name.back() == '.') name.pop_back();
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
      name = name.substr(1, name.size() - 2);
    unsigned char address[16];
    if (inet_pton(AF_INET6, name.c_str(), address) == 1) {
      out.push_back(name);
      continue;
    }
    if (name.empty() || name.size() > 253 ||
        name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-.") != std::string::npos) {
      error = "\"allowed_hosts\": \"" + x.get_str() + "\" is not a host name";
      return false;
    }
    out.push_back(name);
  }
  error.clear();
  return true;
}

bool numeric_address(const std::string& s) {
  unsigned char buf[16];
  return inet_pton(AF_INET, s.c_str(), buf) == 1 || inet_pton(AF_INET6, s.c_str(), buf) == 1;
}

}  // namespace

bool parse_web_config(const json_spirit::Value& v, Web_Config& out, std::string& error) {
  if (v.type() != json_spirit::obj_type) {
    error = "the configuration must be a JSON object";
    return false;
  }
  const Object& o = v.get_obj();
  Web_Config c;
  std::uint64_t port = c.port, timeout = c.connection_timeout_seconds,
                read_timeout = c.request_read_timeout_seconds, conns = c.max_connections,
                header_timeout = c.header_timeout_seconds,
                per_address = c.max_connections_per_address;
  if (!get_string(o, "listen", c.listen, error) ||
      !get_unsigned(o, "port", 0, 65535, port, error) ||
      !get_unsigned(o, "max_body_bytes", 1, UINT64_C(1) << 40, c.max_body_bytes, error) ||
      !get_unsigned(o, "connection_timeout_seconds", 1, 86400, timeout, error) ||
      !get_unsigned(o, "request_read_timeout_seconds", 1, 86400, read_timeout, error) ||
      !get_unsigned(o, "max_connections", 1, 100000, conns, error) ||
      !get_unsigned(o, "header_timeout_seconds", 1, 86400, header_timeout, error) ||
      !get_unsigned(o, "max_connections_per_address", 1, 100000, per_address, error) ||
      !get_string(o, "token_file", c.token_file, error) ||
      !get_string(o, "tls_certificate", c.tls_certificate, error) ||
      !get_string(o, "tls_key", c.tls_key, error) ||
      !parse_allowed_hosts(o, c.allowed_hosts, error) ||
      !get_bool(o, "default_routes", c.default_routes, error))
    return false;
  c.port = static_cast<unsigned int>(port);
  c.connection_timeout_seconds = static_cast<unsigned int>(timeout);
  c.request_read_timeout_seconds = static_cast<unsigned int>(read_timeout);
  c.max_connections = static_cast<unsigned int>(conns);
  c.header_timeout_seconds = static_cast<unsigned int>(header_timeout);
  c.max_connections_per_address = static_cast<unsigned int>(per_address);
  if (c.listen.empty() || !numeric_address(c.listen)) {
    error = "\"listen\" must be a numeric IPv4 or IPv6 address";
    return false;
  }
  if (c.tls_certificate.empty() != c.tls_key.empty()) {
    error = "\"tls_certificate\" and \"tls_key\" go together: give both or neither";
    return false;
  }
  if (!is_loopback_address(c.listen) && c.token_file.empty()) {
    error = "refusing to listen on " + c.listen + " without a \"token_file\"";
    return false;
  }
  auto r = o.find("routes");
  if (r != o.end()) {
    if (r->second.type() != json_spirit::array_type) {
      error = "\"routes\" must be an array";
      return false;
    }
    std::set<std::string> seen;
    for (const Value& x : r->second.get_array()) {
      Web_Route_Config route;
      if (!parse_route(x, route, error)) return false;
      if (!seen.insert(route.path).second) {
        error = "route path \"" + route.path + "\" is given twice";
        return false;
      }
      c.routes.push_back(route);
    }
  }
  out = c;
  return true;
}

bool load_web_config(const std::string& path, Web_Config& out, std::string& error) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  json_spirit::Value v;
  std::string why;
  if (!json_spirit::read(text.str(), v, &why)) {
    error = path + " is not valid JSON: " + why;
    return false;
  }
  if (!parse_web_config(v, out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}
