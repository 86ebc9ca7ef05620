// The HTTP/1.1 server that routes requests to the REST handlers.
//
// Connections are served by libmicrohttpd's event loop (a few polling
// threads with epoll), so an idle connection costs a socket and no thread.
// A complete request is handed to a worker thread (worker_pool.h) with its
// connection suspended, so a handler that waits minutes for a robot blocks
// no other request and no polling thread; a route whose handler answers
// from memory at once (Route::answers_at_once) is answered by the polling
// thread itself, without that hand-over. Before any handler runs the
// server answers by itself, in this order:
//   403  a Host header naming a host other than "localhost" or one of
//        allowed_hosts (an address always passes), an Origin header that
//        is not the server's own origin, or Sec-Fetch-Site "cross-site" or
//        "same-site" other than on GET or HEAD of a public route (see
//        request_guard.h)
//   401  a token is configured and the request lacks "Authorization:
//        Bearer <token>" (before the route lookup: never 404 instead)
//   400  a request path that does not percent-decode (or decodes to "?" or
//        a NUL)
//   404  no route serves the path (a request that announces no body is
//        answered once complete, so its connection stays open like after
//        any reply; any other reply here closes the connection)
//   413  a body on GET or HEAD or to a route that takes none (never read)
//   413  the body is larger than max_body_bytes: at once when
//        Content-Length says so (the body is never read), otherwise when
//        the body ends (what exceeds the limit is discarded, not kept; a
//        body that goes on far past the limit has its connection closed)
// Everything else goes to the route's handler (see run_json_restful_handler
// for 400 on a malformed JSON body and for how the reply is completed).
// Idle connections are closed after connection_timeout_seconds; a
// connection whose headers are not complete within header_timeout_seconds
// is closed (header_deadlines.h); a request whose headers and body take
// longer than request_read_timeout_seconds to arrive has its connection
// closed (checked when the headers are complete and at each piece of
// body); a client address over max_connections_per_address has its new
// connections closed as they are accepted; at max_connections further
// clients wait in the listen backlog. Read-only routes (Route::read_only)
// run on workers of their own.
//
// Every request that reached the server ends in request_completed() (see
// http_server.cpp), whatever became of it: the one place that makes the
// access log line (written by the thread of access_log.h).
#ifndef WEBSVCS_SERVER_HTTP_SERVER_H
#define WEBSVCS_SERVER_HTTP_SERVER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "websvcs/server/access_log.h"
#include "websvcs/server/header_deadlines.h"
#include "websvcs/server/request_guard.h"
#include "websvcs/server/route_table.h"
#include "websvcs/server/tls.h"
#include "websvcs/server/web_config.h"
#include "websvcs/server/worker_pool.h"

struct MHD_Daemon;

class Http_Server {
 public:
  // `routes` must outlive the server and stay unchanged while it runs.
  // `token` empty means no token is required.
  Http_Server(const Web_Config& config, const Route_Table& routes, const std::string& token);
  ~Http_Server();
  Http_Server(const Http_Server&) = delete;
  Http_Server& operator=(const Http_Server&) = delete;

  // Starts listening: https only when the configuration names a TLS
  // certificate and key (plain http to that port gets its connection
  // closed), else http. Logs the warnings of exposure_warnings() (tls.h).
  // The termination signals are blocked while the server's threads are
  // created, so they inherit the mask and the signals reach the process's
  // own handlers; the caller's mask is restored. False with a reason in
  // `error` when the address cannot be used, the port cannot be bound, the
  // TLS files are refused (see Tls_Credentials::load) or this
  // libmicrohttpd was built without TLS.
  //
  // With `listener` (a descriptor from another server's share_listener())
  // the server accepts on that already-listening socket instead of binding
  // the configured address; it owns the descriptor from then on, also when
  // start fails.
  bool start(std::string& error, int listener = -1);
  // A descriptor of the listening socket (dup) for a server that takes
  // over, -1 when not running. Both servers accept on the socket until one
  // stops; the socket is shut down only when its last server stops, so
  // connections are never refused in between.
  int share_listener() const;
  // Stops accepting connections, lets every request whose handler has
  // started finish and send its reply (a request whose headers or body
  // complete meanwhile gets 503 and its connection is closed), then closes
  // the connections, those still sending a request included, and stops
  // the threads. Handlers are not called afterwards, so the routes may
  // then be destroyed. Idempotent; true.
  //
  // With `limit`, requests still in progress after that long are left to
  // finish on their own: stop returns false with the server no longer
  // accepting but its threads running, and the server and its routes must
  // then be left alone (never destroyed) until the process ends.
  bool stop(std::chrono::steady_clock::duration limit = std::chrono::steady_clock::duration::max());

  // Threads for handler calls, before start(): `normal` for most routes
  // (0: max_connections, the default), `reserved` for read-only routes
  // (default 8). For tests that fill the workers.
  void set_worker_limits(std::size_t normal, std::size_t reserved);

  bool running() const { return daemon_ != nullptr; }
  // The port listened on (the one chosen when the configuration said 0).
  unsigned int port() const { return port_.load(); }
  // "http://127.0.0.1:8870" ("http://[::1]:8870" for IPv6; "https://..."
  // with TLS).
  std::string url() const;

  // Used by the connection callbacks.
  struct Request_State;
  const Web_Config& config() const { return config_; }
  const Route_Table& routes() const { return routes_; }
  const std::string& token() const { return token_; }
  Worker_Pool& workers() { return *workers_; }
  Worker_Pool& reserved_workers() { return *reserved_workers_; }
  Access_Log& access_log() { return *access_log_; }
  Header_Deadlines& header_deadlines() { return *header_deadlines_; }
  Refused_Hosts& refused_hosts() { return refused_hosts_; }
  // Requests from their hand-over to a handler to their completion: what
  // stop() waits for. handler_began() is false once stopping has begun
  // (the request is then not handed over).
  bool handler_began();
  void handler_ended();
  bool draining() const;

 private:
  Web_Config config_;
  const Route_Table& routes_;
  std::string token_;
  // Loaded by start(), kept while the daemon runs, wiped by stop().
  Tls_Credentials tls_;
  MHD_Daemon* daemon_;
  int listener_ = -1;  // the listening socket's descriptor while running
  // Set once the daemon runs; read by request threads building the
  // server's own origin, hence atomic.
  std::atomic<unsigned int> port_;
  std::size_t normal_workers_ = 0;
  std::size_t reserved_workers_count_;
  std::unique_ptr<Worker_Pool> workers_;
  std::unique_ptr<Worker_Pool> reserved_workers_;
  std::unique_ptr<Access_Log> access_log_;
  std::unique_ptr<Header_Deadlines> header_deadlines_;
  Refused_Hosts refused_hosts_;
  mutable std::mutex mutex_;
  std::condition_variable drained_;
  unsigned int in_flight_ = 0;  // guarded by mutex_
  bool draining_ = false;       // guarded by mutex_
};

#endif
