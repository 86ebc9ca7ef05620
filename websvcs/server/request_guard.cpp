// Host and Origin checks against browser-driven requests.
#include "websvcs/server/request_guard.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

#include "websvcs/framework/json_restful_request.h"

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool all_digits(const std::string& s) {
  return !s.empty() && s.size() <= 5 &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Splits "name[:port]" or "[v6][:port]" into its host part; false when the
// text is not of that form.
bool host_part(const std::string& text, std::string& name, bool& bracketed) {
  bracketed = false;
  std::string rest;
  if (!text.empty() && text[0] == '[') {
    std::string::size_type close = text.find(']');
    if (close == std::string::npos) return false;
    name = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    bracketed = true;
  } else {
    std::string::size_type colon = text.find(':');
    name = text.substr(0, colon);
    if (colon != std::string::npos) rest = text.substr(colon);
  }
  if (!rest.empty() && (rest[0] != ':' || !all_digits(rest.substr(1)))) return false;
  return !name.empty();
}

}  // namespace

bool host_allowed(const char* host, const std::vector<std::string>& allowed_names) {
  if (!host) return true;
  std::string name;
  bool bracketed = false;
  if (!host_part(host, name, bracketed)) return false;
  if (bracketed) return name.find(':') != std::string::npos && is_loopback_address(name);
  if (is_loopback_address(name)) return true;
  name = lower(name);
  if (name.size() > 1 && name.back() == '.') name.pop_back();
  if (name == "localhost") return true;
  return std::find(allowed_names.begin(), allowed_names.end(), name) != allowed_names.end();
}

bool origin_allowed(const char* origin, const char* host, const std::string& own_url) {
  if (!origin) return true;
  const char* scheme = own_url.compare(0, 8, "https://") == 0 ? "https://" : "http://";
  const std::string own = host ? scheme + std::string(host) : own_url;
  return strcasecmp(origin, own.c_str()) == 0;
}
