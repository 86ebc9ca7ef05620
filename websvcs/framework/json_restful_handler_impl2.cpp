// Request parsing and method dispatch for handlers derived from
// JSON_RESTful_Handler_Impl2.
#include "websvcs/framework/json_restful_handler_impl2.h"

#include <vector>

#include "websvcs/framework/json_restful_channel.h"
#include "websvcs/framework/query_string.h"

namespace {

std::vector<std::string> split_segments(const std::string& s) {
  std::vector<std::string> out;
  std::string::size_type start = 0;
  while (true) {
    std::string::size_type end = s.find('/', start);
    out.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

bool is_capture(const std::string& seg) {
  return seg.size() > 2 && seg.front() == '{' && seg.back() == '}';
}

// Matches `suffix` against `pattern` segment by segment; captures go into
// `vars`. An empty suffix matches only an empty pattern.
bool match_suffix(const std::string& pattern, const std::string& suffix,
                  std::map<std::string, std::string>& vars) {
  if (pattern.empty() || suffix.empty()) return pattern.empty() && suffix.empty();
  std::vector<std::string> p = split_segments(pattern);
  std::vector<std::string> s = split_segments(suffix);
  if (p.size() != s.size()) return false;
  std::map<std::string, std::string> found;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (s[i].empty()) return false;
    if (is_capture(p[i])) {
      found[p[i].substr(1, p[i].size() - 2)] = s[i];
    } else if (p[i] != s[i]) {
      return false;
    }
  }
  vars.insert(found.begin(), found.end());
  return true;
}

// A hook stops the dispatch by returning non-zero or by replying (sending
// a body or setting a status).
bool stopped(JSON_RESTful_Channel* channel, int result) {
  return result != 0 || channel->sent() || channel->response()->status() != 0;
}

}  // namespace

JSON_RESTful_Handler_Impl2::JSON_RESTful_Handler_Impl2(unsigned long methods, unsigned int flags)
    : methods_(methods), flags_(flags) {}

JSON_RESTful_Handler_Impl2::~JSON_RESTful_Handler_Impl2() {}

int JSON_RESTful_Handler_Impl2::handle_request(JSON_RESTful_Channel* channel,
                                               json_spirit::Value& body) {
  if (!channel) return -1;
  const JSON_RESTful_Request& rq = channel->request();
  const int m = rq.method();
  const int BITS = static_cast<int>(sizeof(unsigned long) * 8);
  if (m <= METHOD_UNKNOWN || m >= BITS || !(methods_ & (1UL << m)))
    return channel->send_error(405, -1, "Method not allowed");

  Parsed_Request req;
  req.body = std::move(body);
  req.remote_addr = rq.remote_addr();
  req.loopback = rq.loopback();

  int r = handle_uri_suffix(channel, req);
  if (stopped(channel, r)) return r;
  r = handle_query_string(channel, req);
  if (stopped(channel, r)) return r;
  r = handle_headers(channel, req);
  if (stopped(channel, r)) return r;

  unsigned int auth = AUTH_SERVER;
  unsigned int filters = FILTER_NONE;
  switch (m) {
    case METHOD_HEAD: auth = head_auth_modes(); filters = head_filters(); break;
    case METHOD_GET: auth = get_auth_modes(); filters = get_filters(); break;
    case METHOD_POST: auth = post_auth_modes(); filters = post_filters(); break;
    case METHOD_PUT: auth = put_auth_modes(); filters = put_filters(); break;
    case METHOD_DELETE: auth = delete_auth_modes(); filters = delete_filters(); break;
    default: break;
  }
  if ((auth & AUTH_LOOPBACK) && !req.loopback)
    return channel->send_error(403, -1, "Only local clients may use this resource");
  if ((filters & FILTER_BODY_OBJECT) && req.body.type() != json_spirit::obj_type)
    return channel->send_error(400, -1, "The request body must be a JSON object");
  if ((filters & FILTER_NO_BODY) && !req.body.is_null())
    return channel->send_error(400, -1, "The request must not carry a body");

  r = check_request(channel, req);
  if (stopped(channel, r)) return r;
  r = check_session(channel, req);
  if (stopped(channel, r)) return r;

  switch (m) {
    case METHOD_HEAD: return handle_head(channel, req);
    case METHOD_GET: return handle_get(channel, req);
    case METHOD_POST: return handle_post(channel, req);
    case METHOD_PUT: return handle_put(channel, req);
    case METHOD_DELETE: return handle_delete(channel, req);
    default: return channel->send_error(405, -1, "Method not allowed");
  }
}

int JSON_RESTful_Handler_Impl2::handle_uri_suffix(JSON_RESTful_Channel* channel,
                                                  Parsed_Request& req) {
  const char* pattern = nullptr;
  switch (channel->request().method()) {
    case METHOD_HEAD: pattern = head_uri_suffix_pattern(); break;
    case METHOD_GET: pattern = get_uri_suffix_pattern(); break;
    case METHOD_POST: pattern = post_uri_suffix_pattern(); break;
    case METHOD_PUT: pattern = put_uri_suffix_pattern(); break;
    case METHOD_DELETE: pattern = delete_uri_suffix_pattern(); break;
    default: break;
  }
  if (!match_suffix(pattern ? pattern : "", channel->request().uri_suffix(),
                    req.uri_path_variables))
    return channel->send_error(404, -1, "Not found");
  return 0;
}

int JSON_RESTful_Handler_Impl2::handle_query_string(JSON_RESTful_Channel* channel,
                                                    Parsed_Request& req) {
  if (!parse_query_string(channel->request().query(), req.query_string))
    return channel->send_error(400, -1, "Malformed query string");
  return 0;
}

int JSON_RESTful_Handler_Impl2::handle_headers(JSON_RESTful_Channel* channel,
                                               Parsed_Request& req) {
  req.headers = channel->request().headers();
  return 0;
}

unsigned int JSON_RESTful_Handler_Impl2::head_auth_modes() const { return AUTH_SERVER; }
unsigned int JSON_RESTful_Handler_Impl2::get_auth_modes() const { return AUTH_SERVER; }
unsigned int JSON_RESTful_Handler_Impl2::post_auth_modes() const { return AUTH_SERVER; }
unsigned int JSON_RESTful_Handler_Impl2::put_auth_modes() const { return AUTH_SERVER; }
unsigned int JSON_RESTful_Handler_Impl2::delete_auth_modes() const { return AUTH_SERVER; }

unsigned int JSON_RESTful_Handler_Impl2::head_filters() const { return FILTER_NONE; }
unsigned int JSON_RESTful_Handler_Impl2::get_filters() const { return FILTER_NONE; }
unsigned int JSON_RESTful_Handler_Impl2::post_filters() const { return FILTER_NONE; }
unsigned int JSON_RESTful_Handler_Impl2::put_filters() const { return FILTER_NONE; }
unsigned int JSON_RESTful_Handler_Impl2::delete_filters() const { return FILTER_NONE; }

const char* JSON_RESTful_Handler_Impl2::head_uri_suffix_pattern() const { return nullptr; }
const char* JSON_RESTful_Handler_Impl2::get_uri_suffix_pattern() const { return nullptr; }
const char* JSON_RESTful_Handler_Impl2::post_uri_suffix_pattern() const { return nullptr; }
const char* JSON_RESTful_Handler_Impl2::put_uri_suffix_pattern() const { return nullptr; }
const char* JSON_RESTful_Handler_Impl2::delete_uri_suffix_pattern() const { return nullptr; }

int JSON_RESTful_Handler_Impl2::check_request(JSON_RESTful_Channel*, Parsed_Request&) { return 0; }
int JSON_RESTful_Handler_Impl2::check_session(JSON_RESTful_Channel*, Parsed_Request&) { return 0; }

namespace {

int not_allowed(JSON_RESTful_Channel* channel) {
  return channel->send_error(405, -1, "Method not allowed");
}

}  // namespace

int JSON_RESTful_Handler_Impl2::handle_head(JSON_RESTful_Channel* c, Parsed_Request&) {
  return not_allowed(c);
}
int JSON_RESTful_Handler_Impl2::handle_get(JSON_RESTful_Channel* c, Parsed_Request&) {
  return not_allowed(c);
}
int JSON_RESTful_Handler_Impl2::handle_post(JSON_RESTful_Channel* c, Parsed_Request&) {
  return not_allowed(c);
}
int JSON_RESTful_Handler_Impl2::handle_put(JSON_RESTful_Channel* c, Parsed_Request&) {
  return not_allowed(c);
}
int JSON_RESTful_Handler_Impl2::handle_delete(JSON_RESTful_Channel* c, Parsed_Request&) {
  return not_allowed(c);
}
