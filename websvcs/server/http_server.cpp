// HTTP server on libmicrohttpd, one thread per connection.
#include "websvcs/server/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ace/Log_Msg.h"
#include "websvcs/framework/json_restful_channel.h"
#include "websvcs/framework/query_string.h"
#include "websvcs/server/request_guard.h"
#include "websvcs/server/token.h"

// What one request keeps between the calls of the access handler. Created
// by the URI callback (which sees the request target before the library
// decodes it) and deleted when the request completes.
struct Http_Server::Request_State {
  explicit Request_State(const char* uri)
      : raw_uri(uri ? uri : ""), arrived(std::chrono::steady_clock::now()) {}
  std::string raw_uri;
  std::chrono::steady_clock::time_point arrived;  // when the request line came
  bool started = false;
  bool too_large = false;
  std::uint64_t discarded = 0;
  std::string body;
  Route* route = nullptr;
  std::string path;
  std::string query;
  std::string suffix;
};

namespace {

typedef Http_Server::Request_State Request_State;

// How far past the limit a body without Content-Length is drained (so the
// client can read the 413) before the connection is simply closed.
const std::uint64_t DRAIN_ALLOWANCE = 1048576;

void* on_uri(void*, const char* uri, struct MHD_Connection*) {
  return new (std::nothrow) Request_State(uri);
}

void on_completed(void*, struct MHD_Connection*, void** con_cls,
                  enum MHD_RequestTerminationCode) {
  delete static_cast<Request_State*>(*con_cls);
  *con_cls = nullptr;
}

void on_library_message(void*, const char* fmt, va_list ap) {
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  std::size_t n = std::strlen(buf);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r')) buf[--n] = '\0';
  ACE_DEBUG((LM_WARNING, ACE_TEXT("Web server: %C\n"), buf));
}

MHD_Result transmit(struct MHD_Connection* conn, const JSON_RESTful_Channel& ch) {
  const std::string& body = ch.body();
  struct MHD_Response* resp = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!resp) return MHD_NO;
  if (!ch.content_type().empty())
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_TYPE, ch.content_type().c_str());
  for (const auto& h : ch.response()->headers())
    MHD_add_response_header(resp, h.first.c_str(), h.second.c_str());
  MHD_Result r = MHD_queue_response(conn, static_cast<unsigned int>(ch.reply_status()), resp);
  MHD_destroy_response(resp);
  return r;
}

MHD_Result refuse(struct MHD_Connection* conn, int status, const char* message,
                  const char* auth_challenge = nullptr) {
  JSON_RESTful_Channel ch;
  ch.send_error(status, -1, message);
  if (auth_challenge) ch.response()->header(MHD_HTTP_HEADER_WWW_AUTHENTICATE, auth_challenge);
  return transmit(conn, ch);
}

MHD_Result header_into_request(void* cls, enum MHD_ValueKind, const char* key, const char* value) {
  if (key) static_cast<JSON_RESTful_Request*>(cls)->set_header(key, value ? value : "");
  return MHD_YES;
}

std::string client_address(struct MHD_Connection* conn) {
  const union MHD_ConnectionInfo* info =
      MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr) return std::string();
  char buf[INET6_ADDRSTRLEN] = "";
  const struct sockaddr* sa = info->client_addr;
  if (sa->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, buf, sizeof buf);
  else if (sa->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, buf, sizeof buf);
  return buf;
}

// First call for a request: everything that can be decided from the
// request line and headers, before any of the body is read.
MHD_Result start_request(Http_Server& server, struct MHD_Connection* conn, Request_State& st) {
  // Browsers first, then the token, and only then anything that tells
  // whether a route exists.
  const char* host = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
  if (!host_allowed(host, server.config().allowed_hosts))
    return refuse(conn, 403, "Host name not allowed");
  if (!origin_allowed(MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_ORIGIN),
                      host, server.url()))
    return refuse(conn, 403, "Cross-origin request refused");
  if (!server.token().empty() &&
      !bearer_token_matches(server.token(),
                            MHD_lookup_connection_value(conn, MHD_HEADER_KIND,
                                                        MHD_HTTP_HEADER_AUTHORIZATION)))
    return refuse(conn, 401, "Missing or wrong bearer token", "Bearer");
  std::string::size_type q = st.raw_uri.find('?');
  std::string raw_path = st.raw_uri.substr(0, q);
  if (q != std::string::npos) st.query = st.raw_uri.substr(q + 1);
  std::string::size_type hash = st.query.find('#');
  if (hash != std::string::npos) st.query.erase(hash);
  if (!percent_decode(raw_path, st.path, false) || st.path.find('?') != std::string::npos)
    return refuse(conn, 400, "Malformed request path");
  st.route = server.routes().find(st.path, st.suffix);
  if (!st.route) return refuse(conn, 404, "No such resource");
  const char* length =
      MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (length) {
    errno = 0;
    char* end = nullptr;
    unsigned long long n = std::strtoull(length, &end, 10);
    if (errno == ERANGE || n > server.config().max_body_bytes)
      return refuse(conn, 413, "Request body too large");
  }
  return MHD_YES;
}

MHD_Result finish_request(struct MHD_Connection* conn, const char* method, Request_State& st) {
  JSON_RESTful_Channel ch;
  JSON_RESTful_Request& rq = ch.request();
  rq.set_method(method_from_name(method));
  rq.set_target(st.query.empty() ? st.path : st.path + "?" + st.query);
  rq.set_uri_suffix(st.suffix);
  rq.set_remote_addr(client_address(conn));
  MHD_get_connection_values(conn, MHD_HEADER_KIND, &header_into_request, &rq);
  std::string failure;
  st.route->run(ch, st.body, &failure);
  if (!failure.empty())
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to handle %C %C: %C\n"), method, st.path.c_str(),
               failure.c_str()));
  std::string().swap(st.body);
  return transmit(conn, ch);
}

MHD_Result on_request(void* cls, struct MHD_Connection* conn, const char*, const char* method,
                      const char*, const char* upload_data, size_t* upload_data_size,
                      void** con_cls) {
  Http_Server& server = *static_cast<Http_Server*>(cls);
  Request_State* st = static_cast<Request_State*>(*con_cls);
  if (!st) return refuse(conn, 500, "Out of memory");
  if (std::chrono::steady_clock::now() - st->arrived >
      std::chrono::seconds(server.config().request_read_timeout_seconds))
    return MHD_NO;  // too slow a sender: close the connection
  if (!st->started) {
    st->started = true;
    return start_request(server, conn, *st);
  }
  if (*upload_data_size != 0) {
    const std::uint64_t limit = server.config().max_body_bytes;
    if (!st->too_large && st->body.size() + *upload_data_size > limit) {
      st->too_large = true;
      std::string().swap(st->body);
    }
    if (st->too_large) {
      st->discarded += *upload_data_size;
      if (st->discarded > limit + DRAIN_ALLOWANCE) return MHD_NO;  // close the connection
    } else {
      st->body.append(upload_data, *upload_data_size);
    }
    *upload_data_size = 0;
    return MHD_YES;
  }
  if (st->too_large) return refuse(conn, 413, "Request body too large");
  return finish_request(conn, method, *st);
}

// Parses the configured address into `ss`; false when it is not numeric.
bool make_address(const std::string& text, unsigned int port, sockaddr_storage& ss,
                  bool& ipv6) {
  std::memset(&ss, 0, sizeof ss);
  sockaddr_in* v4 = reinterpret_cast<sockaddr_in*>(&ss);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    ipv6 = false;
    return true;
  }
  sockaddr_in6* v6 = reinterpret_cast<sockaddr_in6*>(&ss);
  if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    ipv6 = true;
    return true;
  }
  return false;
}

}  // namespace

Http_Server::Http_Server(const Web_Config& config, const Route_Table& routes,
                         const std::string& token)
    : config_(config), routes_(routes), token_(token), daemon_(nullptr), port_(0) {}

Http_Server::~Http_Server() { stop(); }

bool Http_Server::start(std::string& error) {
  if (daemon_) return true;
  sockaddr_storage ss;
  bool ipv6 = false;
  if (!make_address(config_.listen, config_.port, ss, ipv6)) {
    error = "\"" + config_.listen + "\" is not a numeric address";
    return false;
  }
  unsigned int flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                       MHD_USE_ERROR_LOG;
  if (ipv6) flags |= MHD_USE_IPv6;

  // The connection threads inherit the mask of the thread that creates the
  // daemon: block the signals the process handles elsewhere, and restore.
  sigset_t block, saved;
  sigemptyset(&block);
  for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR2, SIGPIPE}) sigaddset(&block, s);
  pthread_sigmask(SIG_BLOCK, &block, &saved);
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &on_request, this,
      MHD_OPTION_EXTERNAL_LOGGER, &on_library_message, nullptr,  // first, to catch all
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<struct sockaddr*>(&ss),
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned int>(config_.connection_timeout_seconds),
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned int>(config_.max_connections),
      MHD_OPTION_URI_LOG_CALLBACK, &on_uri, nullptr,
      MHD_OPTION_NOTIFY_COMPLETED, &on_completed, nullptr,
      MHD_OPTION_END);
  int saved_errno = errno;
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (!daemon_) {
    error = "cannot listen on " + config_.listen + " port " + std::to_string(config_.port) +
            ": " + std::strerror(saved_errno);
    return false;
  }
  const union MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : config_.port;
  return true;
}

void Http_Server::stop() {
  if (!daemon_) return;
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

std::string Http_Server::url() const {
  bool v6 = config_.listen.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + config_.listen + "]" : config_.listen) + ":" +
         std::to_string(port_);
}
