// HTTP status of a reply.
#include "websvcs/framework/cgi_response.h"

const char* http_reason_phrase(int code) {
  switch (code) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

namespace {

bool has_line_break(const std::string& s) {
  return s.find('\r') != std::string::npos || s.find('\n') != std::string::npos ||
         s.find('\0') != std::string::npos;
}

}  // namespace

int CGI_Response::status(int code, const char* reason) {
  if (code < 100 || code > 599) code = 500;
  status_ = code;
  reason_ = reason && !has_line_break(reason) ? reason : http_reason_phrase(code);
  return 0;
}

bool CGI_Response::header(const std::string& name, const std::string& value) {
  if (name.empty() || has_line_break(name) || has_line_break(value) ||
      name.find(':') != std::string::npos)
    return false;
  headers_[name] = value;
  return true;
}
