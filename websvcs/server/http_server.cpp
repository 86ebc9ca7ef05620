// HTTP server on libmicrohttpd's event loop, handlers on worker threads.
#include "websvcs/server/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "ace/Log_Msg.h"
#include "d2t/metrics/metrics.h"
#include "d2t/util/log_text.h"
#include "websvcs/framework/json_restful_channel.h"
#include "websvcs/framework/query_string.h"
#include "websvcs/server/connection_probe.h"
#include "websvcs/server/header_deadlines.h"
#include "websvcs/server/request_guard.h"
#include "websvcs/server/streamed_response.h"
#include "websvcs/server/token.h"

// What one request keeps between the calls of the access handler. Created
// by the URI callback (which sees the request target before the library
// decodes it) and deleted when the request completes.
struct Http_Server::Request_State {
  Request_State(Http_Server& s, const char* uri)
      : server(s), raw_uri(uri ? uri : ""), arrived(std::chrono::steady_clock::now()) {}
  ~Request_State() {
    if (handled) server.handler_ended();
  }
  Request_State(const Request_State&) = delete;
  Request_State& operator=(const Request_State&) = delete;

  Http_Server& server;
  std::string raw_uri;
  std::chrono::steady_clock::time_point arrived;  // when the request line came
  std::string method;                             // from the first access call on
  std::string remote;                             // client address, from the first access call on
  bool started = false;
  bool too_large = false;
  // No route serves the path; answered once the request is complete.
  bool not_found = false;
  std::uint64_t discarded = 0;
  std::string body;
  Route* route = nullptr;
  std::string route_path = "none";  // the metrics label: the configured route
  std::string path;
  std::string query;
  std::string suffix;
  // Set when the request went to a worker; the worker fills `channel` and
  // resumes the connection, and the next access call sends the reply.
  bool dispatched = false;
  // Counted by the server's drain from the hand-over to a worker on.
  bool handled = false;
  std::unique_ptr<JSON_RESTful_Channel> channel;
  // Answers the handler's client_connected() while the connection is
  // suspended; finished before it is resumed.
  std::shared_ptr<Connection_Probe> probe;
  // The reply queued: status (0 while none) and body size; a streamed
  // body counts its bytes in `streamed_bytes` as they go out.
  int status = 0;
  std::uint64_t reply_bytes = 0;
  std::shared_ptr<std::uint64_t> streamed_bytes;
};

namespace {

typedef Http_Server::Request_State Request_State;

// How far past the limit a body without Content-Length is drained (so the
// client can read the 413) before the connection is simply closed.
const std::uint64_t DRAIN_ALLOWANCE = 1048576;
// Threads of the event loop; handlers run elsewhere, so two suffice to
// keep reading and answering while one is busy with a large reply.
const unsigned int POLLING_THREADS = 2;
// A worker thread with nothing to do for this long ends.
const std::chrono::milliseconds WORKER_IDLE_TIME(30000);
// Open files the process needs besides its connections (database,
// devices, logs, plug-ins).
const rlim_t OTHER_FILES = 256;
// Workers kept for read-only routes (Route::read_only), so that they
// answer whatever the other workers wait for.
const std::size_t RESERVED_WORKERS = 8;

// The deadline record of a connection (see on_connection), or null.
Header_Deadlines::Entry* deadline_entry(struct MHD_Connection* conn) {
  const union MHD_ConnectionInfo* info =
      MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? static_cast<Header_Deadlines::Entry*>(info->socket_context) : nullptr;
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

const char* termination_text(enum MHD_RequestTerminationCode toe) {
  switch (toe) {
    case MHD_REQUEST_TERMINATED_COMPLETED_OK:
      return "";
    case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
      return ", not completed: timed out";
    case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
      return ", not completed: server stopped";
    case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
      return ", not completed: client closed the connection";
    case MHD_REQUEST_TERMINATED_READ_ERROR:
      return ", not completed: read error";
    default:
      return ", not completed: closed by the server";
  }
}

// One access line in a fixed buffer, cut short at its end; built without
// printf, which would cost the polling thread more than the rest of it.
class Access_Line {
 public:
  Access_Line& operator<<(const char* text) { return add(text, std::strlen(text)); }
  Access_Line& operator<<(const std::string& text) { return add(text.data(), text.size()); }
  Access_Line& operator<<(unsigned long long n) {
    char digits[24];
    return add(digits, std::to_chars(digits, digits + sizeof digits, n).ptr - digits);
  }
  // `value` with three decimals, as "%.3f" writes it.
  Access_Line& fixed3(double value) {
    char digits[64];
    const std::to_chars_result r =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 3);
    return r.ec == std::errc() ? add(digits, r.ptr - digits) : add("?", 1);
  }
  const char* data() const { return text_; }
  std::size_t size() const { return size_; }

 private:
  Access_Line& add(const char* text, std::size_t length) {
    length = std::min(length, sizeof text_ - size_);
    std::memcpy(text_ + size_, text, length);
    size_ += length;
    return *this;
  }
  char text_[511];
  std::size_t size_ = 0;
};

// Where every request that reached the server ends, answered or not: the
// access log line (info priority; buffered, see access_log.h) and the
// request's metrics. Runs in a polling thread.
void request_completed(Request_State& st, struct MHD_Connection* conn,
                       enum MHD_RequestTerminationCode toe) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - st.arrived).count();
  if (st.streamed_bytes) st.reply_bytes = *st.streamed_bytes;
  Header_Deadlines::Entry* entry = deadline_entry(conn);
  if (st.server.header_deadlines().cut(entry)) toe = MHD_REQUEST_TERMINATED_TIMEOUT_REACHED;
  st.server.header_deadlines().request_ended(entry);
  const std::string remote = st.remote.empty() ? client_address(conn) : st.remote;
  Access_Line line;
  line << "HTTP " << (remote.empty() ? "-" : remote) << " \""
       << (st.method.empty() ? std::string("-") : d2t::log_text(st.method, 16)) << " "
       << d2t::log_text(st.raw_uri.substr(0, st.raw_uri.find('?')), 256) << "\" ";
  if (st.status)
    line << static_cast<unsigned long long>(st.status);
  else
    line << "-";
  line << " " << static_cast<unsigned long long>(st.reply_bytes) << " bytes ";
  line.fixed3(seconds * 1e3) << " ms" << termination_text(toe);
  st.server.access_log().write(line.data(), line.size());
  if (st.status) d2t::metrics::record_http(st.route_path, st.status, seconds);
}

void* on_uri(void* cls, const char* uri, struct MHD_Connection* conn) {
  Http_Server& server = *static_cast<Http_Server*>(cls);
  server.header_deadlines().request_line(deadline_entry(conn));
  return new (std::nothrow) Request_State(server, uri);
}

// Connections taken in and closed: their header deadlines. A closing
// connection is reported before its socket is closed.
void on_connection(void* cls, struct MHD_Connection* conn, void** socket_context,
                   enum MHD_ConnectionNotificationCode code) {
  Header_Deadlines& deadlines = static_cast<Http_Server*>(cls)->header_deadlines();
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const union MHD_ConnectionInfo* info =
        MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
    *socket_context = info ? deadlines.opened(info->connect_fd) : nullptr;
  } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
    deadlines.closed(static_cast<Header_Deadlines::Entry*>(*socket_context));
    *socket_context = nullptr;
  }
}

void on_completed(void*, struct MHD_Connection* conn, void** con_cls,
                  enum MHD_RequestTerminationCode toe) {
  Request_State* st = static_cast<Request_State*>(*con_cls);
  if (!st) return;
  request_completed(*st, conn, toe);
  delete st;
  *con_cls = nullptr;
}

// The library reports each connection it refuses over a limit; a client
// opening thousands must not flood the log. Such reports are logged at
// most once per LIMIT_REPORT_INTERVAL, with how many went unlogged.
const std::chrono::seconds LIMIT_REPORT_INTERVAL(60);
std::mutex limit_report_mutex;
std::chrono::steady_clock::time_point last_limit_report;  // guarded by limit_report_mutex
unsigned long unlogged_limit_reports = 0;                 // guarded by limit_report_mutex

void on_library_message(void*, const char* fmt, va_list ap) {
  char buf[512];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  std::size_t n = std::strlen(buf);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r')) buf[--n] = '\0';
  if (std::strstr(buf, "connection limit")) {
    std::lock_guard<std::mutex> lock(limit_report_mutex);
    const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (last_limit_report != std::chrono::steady_clock::time_point() &&
        now - last_limit_report < LIMIT_REPORT_INTERVAL) {
      ++unlogged_limit_reports;
      return;
    }
    const std::string more = std::to_string(unlogged_limit_reports);
    ACE_DEBUG((LM_WARNING,
               ACE_TEXT("Web server: %C (\"max_connections_per_address\" or "
                        "\"max_connections\"; %C more since the last such line)\n"),
               buf, more.c_str()));
    last_limit_report = now;
    unlogged_limit_reports = 0;
    return;
  }
  ACE_DEBUG((LM_WARNING, ACE_TEXT("Web server: %C\n"), buf));
}

// Queues the channel's reply; records what was queued in `st` (null when
// the request has no state).
MHD_Result transmit(struct MHD_Connection* conn, JSON_RESTful_Channel& ch, Request_State* st) {
  const std::string& body = ch.body();
  std::shared_ptr<std::uint64_t> streamed;
  struct MHD_Response* resp = nullptr;
  if (ch.stream()) {
    streamed = std::make_shared<std::uint64_t>(0);
    resp = make_streamed_response(std::move(ch.stream()), streamed);
  } else {
    resp = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                           MHD_RESPMEM_MUST_COPY);
  }
  if (!resp) return MHD_NO;
  if (!ch.content_type().empty())
    MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_TYPE, ch.content_type().c_str());
  for (const auto& h : ch.response()->headers())
    MHD_add_response_header(resp, h.first.c_str(), h.second.c_str());
  MHD_Result r = MHD_queue_response(conn, static_cast<unsigned int>(ch.reply_status()), resp);
  MHD_destroy_response(resp);
  if (st && r == MHD_YES) {
    st->status = ch.reply_status();
    st->reply_bytes = body.size();
    st->streamed_bytes = streamed;
  }
  return r;
}

MHD_Result refuse(struct MHD_Connection* conn, Request_State* st, int status, const char* message,
                  const char* auth_challenge = nullptr, bool close = false) {
  JSON_RESTful_Channel ch;
  ch.send_error(status, -1, message);
  if (auth_challenge) ch.response()->header(MHD_HTTP_HEADER_WWW_AUTHENTICATE, auth_challenge);
  if (close) ch.response()->header(MHD_HTTP_HEADER_CONNECTION, "close");
  return transmit(conn, ch, st);
}

MHD_Result header_into_request(void* cls, enum MHD_ValueKind, const char* key, const char* value) {
  if (key) static_cast<JSON_RESTful_Request*>(cls)->set_header(key, value ? value : "");
  return MHD_YES;
}

// Whether the request announces a body: a Content-Length above 0, or a
// Transfer-Encoding (chunked).
bool announces_body(struct MHD_Connection* conn) {
  if (MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING))
    return true;
  const char* length =
      MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  return length && length[std::strspn(length, "0")] != '\0';
}

// The 403 for a Host that is refused: names it (escaped) and the key that
// allows it; logged once per Host.
MHD_Result refuse_host(Http_Server& server, struct MHD_Connection* conn, Request_State& st,
                       const char* host) {
  const std::string shown = d2t::log_text(host ? host : "", 128);
  if (server.refused_hosts().first_refusal(shown))
    ACE_DEBUG((LM_WARNING,
               ACE_TEXT("Web server: refused requests naming Host %C (first from %C); if it is "
                        "a name of this server, add it to \"allowed_hosts\" in web.conf\n"),
               shown.c_str(), st.remote.c_str()));
  const std::string message =
      "Host name not allowed: " + shown + " is not listed in \"allowed_hosts\" in web.conf";
  return refuse(conn, &st, 403, message.c_str());
}

// First call for a request: everything that can be decided from the
// request line and headers, before any of the body is read.
MHD_Result start_request(Http_Server& server, struct MHD_Connection* conn, Request_State& st) {
  if (server.draining()) return refuse(conn, &st, 503, "The server is stopping", nullptr, true);
  // Browsers first, then the token, and only then anything that tells
  // whether a route exists.
  const char* host = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
  if (!host_allowed(host, server.config().allowed_hosts))
    return refuse_host(server, conn, st, host);
  const char* origin = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_ORIGIN);
  if (origin && !origin_allowed(origin, host, server.url()))
    return refuse(conn, &st, 403, "Cross-origin request refused");
  // The route is looked up before the checks below but not told: only a
  // GET or HEAD of a public route (the console's page) passes without the
  // token, or when another site's page asks; every other unauthenticated
  // request gets 401, never 400 or 404.
  std::string::size_type q = st.raw_uri.find('?');
  std::string raw_path = st.raw_uri.substr(0, q);
  if (q != std::string::npos) st.query = st.raw_uri.substr(q + 1);
  std::string::size_type hash = st.query.find('#');
  if (hash != std::string::npos) st.query.erase(hash);
  const bool path_ok =
      percent_decode(raw_path, st.path, false) && st.path.find('?') == std::string::npos;
  st.route = path_ok ? server.routes().find(st.path, st.suffix) : nullptr;
  const bool reading = st.method == "GET" || st.method == "HEAD";
  const bool open = st.route && st.route->open() && reading;
  if (!fetch_site_allowed(MHD_lookup_connection_value(conn, MHD_HEADER_KIND, "Sec-Fetch-Site"),
                          open))
    return refuse(conn, &st, 403, "Cross-site request refused");
  if (!open && !server.token().empty() &&
      !bearer_token_matches(
          server.token(),
          MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION)))
    return refuse(conn, &st, 401, "Missing or wrong bearer token", "Bearer");
  if (!path_ok) return refuse(conn, &st, 400, "Malformed request path");
  if (st.route) st.route_path = st.route->path();
  if (!st.route) {
    // A reply queued before the request is complete makes the library
    // close the connection (it will not read what may follow). A request
    // that announces no body is complete already: its 404 goes out on the
    // next call and the connection stays open for the client's next
    // request, as after any other reply. With a body, at once (never read).
    if (announces_body(conn)) return refuse(conn, &st, 404, "No such resource");
    st.not_found = true;
    return MHD_YES;
  }
  // Bodies are refused before any of them is read where none is used.
  if ((reading || !st.route->takes_body()) && announces_body(conn))
    return refuse(conn, &st, 413, "This request takes no body", nullptr, true);
  const char* length =
      MHD_lookup_connection_value(conn, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (length) {
    errno = 0;
    char* end = nullptr;
    unsigned long long n = std::strtoull(length, &end, 10);
    if (errno == ERANGE || n > server.config().max_body_bytes)
      return refuse(conn, &st, 413, "Request body too large");
  }
  return MHD_YES;
}

// Runs the request's handler; logs the failure of one that threw (its
// reply is then a 500 already).
void run_route(Request_State& st) {
  std::string failure;
  st.route->run(*st.channel, st.body, &failure);
  if (!failure.empty())
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to handle %C %C: %C\n"), st.method.c_str(),
               st.path.c_str(), failure.c_str()));
  std::string().swap(st.body);
}

// Runs on a worker thread while the connection is suspended. The last
// thing it does is resume the connection: from then on the request state
// belongs to the polling thread again.
void run_handler(struct MHD_Connection* conn, Request_State& st) {
  run_route(st);
  st.probe->finish();
  MHD_resume_connection(conn);
}

// The socket of `conn`, or -1 when the library does not tell it.
int connection_fd(struct MHD_Connection* conn) {
  const union MHD_ConnectionInfo* info =
      MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
  return info ? static_cast<int>(info->connect_fd) : -1;
}

// The whole request has arrived. A route that answers at once
// (Route::answers_at_once) is answered here, on the polling thread: its
// handler never waits, so handing it to a worker and waking this thread
// again for the reply would cost more than the answer. Any other request
// goes to a worker with the connection suspended, so the polling thread
// goes on serving other connections.
MHD_Result dispatch(Http_Server& server, struct MHD_Connection* conn, Request_State& st) {
  const bool at_once = st.route->answers_at_once();
  st.channel.reset(new (std::nothrow) JSON_RESTful_Channel);
  if (!st.channel) return refuse(conn, &st, 500, "Out of memory");
  JSON_RESTful_Request& rq = st.channel->request();
  if (!at_once) {
    // The connection is suspended while the handler runs: the probe may
    // look at its socket until the worker finishes it.
    st.probe = std::make_shared<Connection_Probe>(connection_fd(conn));
    std::shared_ptr<Connection_Probe> probe = st.probe;
    rq.set_client_probe([probe] { return probe->connected(); });
  }
  rq.set_method(method_from_name(st.method.c_str()));
  rq.set_target(st.query.empty() ? st.path : st.path + "?" + st.query);
  rq.set_uri_suffix(st.suffix);
  rq.set_remote_addr(st.remote);
  MHD_get_connection_values(conn, MHD_HEADER_KIND, &header_into_request, &rq);
  // A stop that has begun waits only for the handlers already counted.
  if (!server.handler_began()) {
    if (st.probe) st.probe->finish();
    return refuse(conn, &st, 503, "The server is stopping", nullptr, true);
  }
  st.handled = true;
  if (at_once) {
    run_route(st);
    return transmit(conn, *st.channel, &st);
  }
  st.dispatched = true;
  MHD_suspend_connection(conn);
  Request_State* state = &st;
  Worker_Pool& workers = st.route->read_only() ? server.reserved_workers() : server.workers();
  if (!workers.submit([conn, state] { run_handler(conn, *state); })) {
    st.channel->send_error(503, -1, "The server is busy");
    st.channel->complete(-1);
    st.probe->finish();
    MHD_resume_connection(conn);
  }
  return MHD_YES;
}

MHD_Result on_request(void* cls, struct MHD_Connection* conn, const char*, const char* method,
                      const char*, const char* upload_data, size_t* upload_data_size,
                      void** con_cls) {
  Http_Server& server = *static_cast<Http_Server*>(cls);
  Request_State* st = static_cast<Request_State*>(*con_cls);
  if (!st) return refuse(conn, nullptr, 500, "Out of memory");
  // Called again once the worker has resumed the connection.
  if (st->dispatched) return transmit(conn, *st->channel, st);
  if (std::chrono::steady_clock::now() - st->arrived >
      std::chrono::seconds(server.config().request_read_timeout_seconds))
    return MHD_NO;  // too slow a sender: close the connection
  if (!st->started) {
    st->started = true;
    server.header_deadlines().headers_complete(deadline_entry(conn));
    st->method = method ? method : "";
    st->remote = client_address(conn);
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
  if (st->too_large) return refuse(conn, st, 413, "Request body too large");
  if (st->not_found) return refuse(conn, st, 404, "No such resource");
  return dispatch(server, conn, *st);
}

// Raises the soft limit of open files so that `connections` sockets fit;
// false when the hard limit is too low for that.
bool make_room_for(unsigned int connections) {
  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return false;
  const rlim_t want = static_cast<rlim_t>(connections) + OTHER_FILES;
  if (rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur < want) {
    rl.rlim_cur = (rl.rlim_max == RLIM_INFINITY || rl.rlim_max >= want) ? want : rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
  return rl.rlim_cur == RLIM_INFINITY || rl.rlim_cur >= want;
}

// How many running servers of the process accept on each listening socket
// (by inode), so that only the last one to stop shuts it down.
std::mutex g_listeners_mutex;
std::map<ino_t, unsigned int> g_listeners;

ino_t socket_inode(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? st.st_ino : 0;
}

void listener_used(int fd) {
  std::lock_guard<std::mutex> lock(g_listeners_mutex);
  ++g_listeners[socket_inode(fd)];
}

// True when no other running server accepts on the socket of `fd`.
bool listener_released(int fd) {
  std::lock_guard<std::mutex> lock(g_listeners_mutex);
  const auto it = g_listeners.find(socket_inode(fd));
  if (it == g_listeners.end()) return true;
  if (--it->second != 0) return false;
  g_listeners.erase(it);
  return true;
}

// Parses the configured address into `ss`; false when it is not numeric.
bool make_address(const std::string& text, unsigned int port, sockaddr_storage& ss, bool& ipv6) {
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
    : config_(config),
      routes_(routes),
      token_(token),
      daemon_(nullptr),
      port_(0),
      reserved_workers_count_(RESERVED_WORKERS) {}

Http_Server::~Http_Server() { stop(); }

bool Http_Server::start(std::string& error, int listener) {
  if (daemon_) {
    if (listener >= 0) close(listener);
    return true;
  }
  sockaddr_storage ss;
  bool ipv6 = false;
  if (!make_address(config_.listen, config_.port, ss, ipv6)) {
    if (listener >= 0) close(listener);
    error = "\"" + config_.listen + "\" is not a numeric address";
    return false;
  }
  unsigned int flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                       MHD_USE_ERROR_LOG;
  if (ipv6) flags |= MHD_USE_IPv6;
  if (!tls_.load(config_, error)) {
    if (listener >= 0) close(listener);
    return false;
  }
  // With TLS on, the certificate and key go in as PEM text from memory.
  MHD_OptionItem tls_options[] = {
      {MHD_OPTION_END, 0, nullptr}, {MHD_OPTION_END, 0, nullptr}, {MHD_OPTION_END, 0, nullptr}};
  if (tls_.enabled()) {
    if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
      tls_.clear();
      if (listener >= 0) close(listener);
      error = "\"tls_certificate\" is set but this libmicrohttpd was built without TLS support";
      return false;
    }
    flags |= MHD_USE_TLS;
    tls_options[0] = {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(tls_.certificate().c_str())};
    tls_options[1] = {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(tls_.key().c_str())};
  }
  if (!make_room_for(config_.max_connections))
    ACE_DEBUG((LM_WARNING, ACE_TEXT("Web server: the open-file limit is below %u connections\n"),
               config_.max_connections));
  const unsigned int polling_threads =
      config_.max_connections < POLLING_THREADS ? 1 : POLLING_THREADS;
  workers_.reset(new Worker_Pool(normal_workers_ ? normal_workers_ : config_.max_connections,
                                 WORKER_IDLE_TIME));
  reserved_workers_.reset(new Worker_Pool(reserved_workers_count_, WORKER_IDLE_TIME));

  // The polling threads inherit the mask of the thread that creates the
  // daemon: block the signals the process handles elsewhere, and restore.
  sigset_t block, saved;
  sigemptyset(&block);
  for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR2, SIGPIPE}) sigaddset(&block, s);
  pthread_sigmask(SIG_BLOCK, &block, &saved);
  access_log_.reset(new Access_Log);
  header_deadlines_.reset(
      new Header_Deadlines(std::chrono::seconds(config_.header_timeout_seconds),
                           std::chrono::seconds(config_.connection_timeout_seconds)));
  // A socket handed over replaces the address to bind.
  struct MHD_OptionItem where[2] = {{MHD_OPTION_SOCK_ADDR, 0, &ss}, {MHD_OPTION_END, 0, nullptr}};
  if (listener >= 0) where[0] = {MHD_OPTION_LISTEN_SOCKET, listener, nullptr};
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &on_request, this, MHD_OPTION_EXTERNAL_LOGGER,
      &on_library_message, nullptr,  // first, to catch all
      MHD_OPTION_ARRAY, where, MHD_OPTION_THREAD_POOL_SIZE, polling_threads,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned int>(config_.connection_timeout_seconds),
      MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned int>(config_.max_connections),
      MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      static_cast<unsigned int>(config_.max_connections_per_address), MHD_OPTION_URI_LOG_CALLBACK,
      &on_uri, this, MHD_OPTION_NOTIFY_COMPLETED, &on_completed, nullptr,
      MHD_OPTION_NOTIFY_CONNECTION, &on_connection, this, MHD_OPTION_ARRAY, tls_options,
      MHD_OPTION_END);
  int saved_errno = errno;
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (!daemon_) {
    if (listener >= 0) close(listener);
    workers_.reset();
    reserved_workers_.reset();
    header_deadlines_.reset();
    access_log_.reset();
    error = "cannot listen on " + config_.listen + " port " + std::to_string(config_.port) + ": " +
            std::strerror(saved_errno);
    if (tls_.enabled()) error += " (or the TLS certificate and key are not a usable pair)";
    tls_.clear();
    return false;
  }
  const union MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : config_.port;
  const union MHD_DaemonInfo* fd = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_LISTEN_FD);
  listener_ = fd ? fd->listen_fd : -1;
  if (listener_ >= 0) listener_used(listener_);
  for (const std::string& w : exposure_warnings(config_, !token_.empty()))
    ACE_DEBUG((LM_WARNING, ACE_TEXT("Web service: %C\n"), w.c_str()));
  return true;
}

int Http_Server::share_listener() const {
  return daemon_ && listener_ >= 0 ? fcntl(listener_, F_DUPFD_CLOEXEC, 0) : -1;
}

bool Http_Server::stop(std::chrono::steady_clock::duration limit) {
  if (!daemon_) return true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (draining_) return false;  // an earlier stop gave up waiting
    draining_ = true;
  }
  // No new connections. The requests whose handler has started finish and
  // send their reply; each ends in on_completed (once its worker resumed
  // it), so none is suspended when the daemon stops. Connections still
  // sending a request are not waited for: stopping the daemon closes them.
  MHD_socket listener = MHD_quiesce_daemon(daemon_);
  // Refuse new clients at once rather than leave them in the backlog,
  // unless another server accepts on the same socket; the descriptor
  // itself stays open until the daemon is gone.
  if (listener != MHD_INVALID_SOCKET && listener_released(listener)) shutdown(listener, SHUT_RDWR);
  listener_ = -1;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto drained = [this] { return in_flight_ == 0; };
    const auto now = std::chrono::steady_clock::now();
    if (limit >= std::chrono::steady_clock::time_point::max() - now) {
      drained_.wait(lock, drained);
    } else if (!drained_.wait_until(lock, now + limit, drained)) {
      return false;  // handlers still run on the daemon's connections
    }
  }
  MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  if (listener != MHD_INVALID_SOCKET) close(listener);
  header_deadlines_.reset();  // every connection is closed
  workers_->stop();
  workers_.reset();
  reserved_workers_->stop();
  reserved_workers_.reset();
  access_log_.reset();  // after writing every line
  tls_.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  draining_ = false;
  return true;
}

void Http_Server::set_worker_limits(std::size_t normal, std::size_t reserved) {
  normal_workers_ = normal;
  reserved_workers_count_ = reserved ? reserved : 1;
}

bool Http_Server::handler_began() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (draining_) return false;
  ++in_flight_;
  return true;
}

void Http_Server::handler_ended() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--in_flight_ == 0) drained_.notify_all();
}

bool Http_Server::draining() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return draining_;
}

std::string Http_Server::url() const {
  bool v6 = config_.listen.find(':') != std::string::npos;
  return std::string(config_.tls_certificate.empty() ? "http://" : "https://") +
         (v6 ? "[" + config_.listen + "]" : config_.listen) + ":" + std::to_string(port_.load());
}
