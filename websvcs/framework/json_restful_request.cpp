// The request object of a channel.
#include "websvcs/framework/json_restful_request.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstring>

namespace {

const char* const METHOD_NAMES[] = {"UNKNOWN", "OPTIONS", "GET",     "HEAD",  "PUT",
                                    "DELETE",  "TRACE",   "CONNECT", "PATCH", "POST"};
const int METHOD_COUNT = sizeof METHOD_NAMES / sizeof METHOD_NAMES[0];

std::string lower(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

int method_from_name(const char* name) {
  if (!name) return METHOD_UNKNOWN;
  for (int i = 1; i < METHOD_COUNT; ++i)
    if (std::strcmp(name, METHOD_NAMES[i]) == 0) return i;
  return METHOD_UNKNOWN;
}

const char* method_name(int code) {
  if (code < 0 || code >= METHOD_COUNT) return METHOD_NAMES[0];
  return METHOD_NAMES[code];
}

const char* JSON_RESTful_Request::path(int without_query) const {
  return without_query ? path_.c_str() : target_.c_str();
}

const std::string* JSON_RESTful_Request::header(const std::string& name) const {
  auto it = headers_.find(lower(name));
  return it == headers_.end() ? nullptr : &it->second;
}

void JSON_RESTful_Request::set_target(const std::string& target) {
  target_ = target;
  std::string::size_type q = target.find('?');
  if (q == std::string::npos) {
    path_ = target;
    query_.clear();
  } else {
    path_ = target.substr(0, q);
    query_ = target.substr(q + 1);
  }
}

void JSON_RESTful_Request::set_header(const std::string& name, const std::string& value) {
  headers_[lower(name)] = value;
}

void JSON_RESTful_Request::set_remote_addr(const std::string& addr) {
  remote_addr_ = addr;
  loopback_ = is_loopback_address(addr);
}

bool is_loopback_address(const std::string& addr) {
  unsigned char buf[16];
  if (inet_pton(AF_INET, addr.c_str(), buf) == 1) return buf[0] == 127;
  if (inet_pton(AF_INET6, addr.c_str(), buf) != 1) return false;
  static const unsigned char V6_LOOPBACK[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (std::memcmp(buf, V6_LOOPBACK, 16) == 0) return true;
  // IPv4-mapped ::ffff:127.x.y.z
  static const unsigned char V4_MAPPED[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return std::memcmp(buf, V4_MAPPED, 12) == 0 && buf[12] == 127;
}
