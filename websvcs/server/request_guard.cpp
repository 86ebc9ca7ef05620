// Host, Origin and Sec-Fetch-Site checks against browser-driven requests.
#include "websvcs/server/request_guard.h"

#include <arpa/inet.h>
#include <strings.h>

#include <algorithm>
#include <cctype>

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
  unsigned char address[16];
  if (bracketed) return inet_pton(AF_INET6, name.c_str(), address) == 1;
  if (inet_pton(AF_INET, name.c_str(), address) == 1) return true;
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

bool fetch_site_allowed(const char* site, bool public_read) {
  if (!site || public_read) return true;
  return strcasecmp(site, "cross-site") != 0 && strcasecmp(site, "same-site") != 0;
}

bool Refused_Hosts::first_refusal(const std::string& host) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (seen_.size() >= capacity_) return false;
  return seen_.insert(host).second;
}
