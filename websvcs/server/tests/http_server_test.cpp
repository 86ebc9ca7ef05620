// The HTTP server against a real client on a loopback port chosen by the
// system.
#include "websvcs/server/http_server.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "d2t/metrics/metrics.h"
#include "json_spirit/json_spirit.h"
#include "starter/tests/log_capture.h"
#include "websvcs/framework/framework.h"
#include "websvcs/server/tests/support.h"

namespace {

// Guards against a hang, never a speed requirement.
const std::chrono::seconds HANG_GUARD(60);

json_spirit::Object body_object(const Http_Reply& r) {
  json_spirit::Value v;
  if (!json_spirit::read(r.body, v) || v.type() != json_spirit::obj_type) return {};
  return v.get_obj();
}

// Answers POST with its body, GET with the query, what the server told of the request, and
// how many termination signals are blocked in the thread running it.
class Echo_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  Echo_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}
  CONCURRENCY concurrency() const override { return THREAD; }
  int handle_get(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    json_spirit::Object o;
    for (const auto& kv : req.query_string) o[kv.first] = kv.second;
    o["@path"] = ch->request().path(1);
    o["@remote"] = req.remote_addr;
    o["@loopback"] = req.loopback;
    sigset_t now;
    pthread_sigmask(SIG_BLOCK, nullptr, &now);
    int blocked = 0;
    for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR2, SIGPIPE})
      if (sigismember(&now, s)) ++blocked;
    o["@blocked"] = blocked;
    return ch->send_value(o);
  }
  int handle_post(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    return ch->send_value(req.body);
  }
};

// Blocks until released; tells when it has started. (That a handler sees
// its client go: the system test of a load whose client went away.)
class Blocking_Handler : public JSON_RESTful_Handler {
 public:
  CONCURRENCY concurrency() const override { return THREAD; }
  int handle_request(JSON_RESTful_Channel* ch, json_spirit::Value&) override {
    started.set_value();
    if (release.wait_for(HANG_GUARD) != std::future_status::ready) return -1;
    return ch->send_value(json_spirit::Value("released"));
  }
  std::promise<void> started;
  std::shared_future<void> release;
};

// Declares no concurrency: the server must run one request at a time.
// Like the drive handlers, it sends nothing on success.
class Serial_Handler : public JSON_RESTful_Handler {
 public:
  int handle_request(JSON_RESTful_Channel*, json_spirit::Value&) override {
    int now = ++inside;
    for (int seen = max_inside.load();
         now > seen && !max_inside.compare_exchange_weak(seen, now);) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    --inside;
    return 0;
  }
  std::atomic<int> inside{0};
  std::atomic<int> max_inside{0};
};

// Counts the requests that reached it; read-only, takes no body.
class Counting_Handler : public JSON_RESTful_Handler {
 public:
  CONCURRENCY concurrency() const override { return THREAD; }
  unsigned int traits() const override { return READ_ONLY; }
  int handle_request(JSON_RESTful_Channel* ch, json_spirit::Value&) override {
    ++calls;
    return ch->send_value(json_spirit::Value(calls.load()));
  }
  std::atomic<int> calls{0};
};

// Sends `head` (request line and headers, without the blank line) and
// reads the reply.
Http_Reply raw_request(unsigned int port, const std::string& head) {
  Test_Socket s(port);
  if (!s.ok()) return Http_Reply();
  s.send_all(head + "Connection: close\r\nContent-Length: 0\r\n\r\n");
  return parse_reply(s.read_all());
}

class Http_Server_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.port = 0;
    config_.max_body_bytes = 1024;
    routes_.add("/d2/r/tapectl/list", false, echo_);
    routes_.add("/slow", false, blocking_);
    routes_.add("/serial", false, serial_);
    routes_.add("/tree", true, echo_);
    routes_.add("/count", false, counting_);
    blocking_.release = release_.get_future().share();
  }
  void start(const std::string& token = "") {
    server_.reset(new Http_Server(config_, routes_, token));
    std::string error;
    ASSERT_TRUE(server_->start(error)) << error;
    ASSERT_NE(0u, server_->port());
  }
  unsigned int port() const { return server_->port(); }

  Web_Config config_;
  Route_Table routes_;
  Echo_Handler echo_;
  Blocking_Handler blocking_;
  Serial_Handler serial_;
  Counting_Handler counting_;
  std::promise<void> release_;  // lets the blocking handler answer
  std::unique_ptr<Http_Server> server_;
};

// The path is decoded before routing, the query for the handler, which
// runs on a thread that blocks the termination signals (the starting
// thread's mask is restored).
TEST_F(Http_Server_Test, RoutesGetWithDecodedPathAndQuery) {
  sigset_t before, after;
  pthread_sigmask(SIG_BLOCK, nullptr, &before);
  start();
  pthread_sigmask(SIG_BLOCK, nullptr, &after);
  EXPECT_EQ(sigismember(&before, SIGTERM), sigismember(&after, SIGTERM));
  Http_Reply r = http_request(port(), "GET", "/d2/r/tapectl/%6Cist?serial_number=AB%2012+3&x=%7e");
  ASSERT_EQ(200, r.status) << r.headers;
  EXPECT_NE(std::string::npos, r.headers.find("Content-Type: application/json"));
  EXPECT_EQ(R"({"@blocked":6,"@loopback":true,"@path":"/d2/r/tapectl/list",)"
            R"("@remote":"127.0.0.1","serial_number":"AB 12 3","x":"~"})",
            r.body);
}

TEST_F(Http_Server_Test, StatusOfEveryKindOfRequest) {
  struct Row {
    const char* method;
    std::string target, body;
    int status;
    const char* reply;  // the whole body when given
  };
  // Which route and where a prefix route's rest starts: the route table's
  // test; methods and bodies a handler refuses: the dispatch test's.
  const std::string LIST = "/d2/r/tapectl/list";
  const std::vector<Row> rows = {
      // What does not decode is 400.
      {"GET", LIST + "%zz", "", 400, nullptr},
      {"GET", LIST + "%3Fa=b", "", 400, nullptr},
      {"GET", LIST + "%00", "", 400, nullptr},
      // An unknown path; a prefix route passes the rest to the handler,
      // which allows no suffix.
      {"GET", "/", "", 404, nullptr},
      {"GET", "/tree", "", 200, nullptr},
      {"GET", "/tree/a", "", 404, nullptr},
      // A handler that sends nothing on success: 200 with an empty body.
      {"POST", "/serial", R"({"serial_number": "D1"})", 200, ""},
      {"POST", LIST, R"({"a": [1, 2]})", 200, R"({"a":[1,2]})"},
  };
  start();
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + row.target + " " + row.body);
    Http_Reply r = http_request(port(), row.method, row.target, row.body);
    EXPECT_EQ(row.status, r.status);
    if (row.status == 404) {
      EXPECT_EQ(404, body_object(r)["status"].get_int());
    } else if (row.reply) {
      EXPECT_EQ(row.reply, r.body);
    }
  }
  // A 404 leaves the connection open for the next request, as a route's
  // answer does; one to a request with a body closes it (the body is not
  // read).
  Test_Socket kept(port());
  ASSERT_TRUE(kept.send_all("GET /nothing HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  const Http_Reply missing = parse_reply(kept.read_reply());
  EXPECT_EQ(404, missing.status);
  EXPECT_EQ(std::string::npos, missing.headers.find("Connection: close")) << missing.headers;
  ASSERT_TRUE(kept.send_all("GET /d2/r/tapectl/list HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  EXPECT_EQ(200, parse_reply(kept.read_reply()).status);
  ASSERT_TRUE(
      kept.send_all("POST /nothing HTTP/1.1\r\nHost: localhost\r\nContent-Length: 2\r\n\r\n"));
  EXPECT_EQ(404, parse_reply(kept.read_all()).status);
}

TEST_F(Http_Server_Test, LargeBodyIs413WithoutBeingRead) {
  start();
  // Announce a body and send none of it: the reply comes at once, so the
  // server never waited for (or kept) the body. Too large a body, or any
  // body where none is taken: on GET and HEAD, and to a route whose
  // handler reads none (/count), whatever the method.
  for (const char* head : {"POST /d2/r/tapectl/list HTTP/1.1\r\nContent-Length: 1073741824\r\n",
                           "GET /d2/r/tapectl/list HTTP/1.1\r\nContent-Length: 1048576\r\n",
                           "HEAD /d2/r/tapectl/list HTTP/1.1\r\nTransfer-Encoding: chunked\r\n",
                           "POST /count HTTP/1.1\r\nContent-Length: 10\r\n"}) {
    SCOPED_TRACE(head);
    Test_Socket s(port());
    ASSERT_TRUE(s.ok());
    ASSERT_TRUE(s.send_all(std::string(head) + "Host: localhost\r\n\r\n"));
    Http_Reply r = parse_reply(s.read_all());
    EXPECT_EQ(413, r.status);
  }
  EXPECT_EQ(0, counting_.calls.load());
  // Exactly at the limit is accepted (one byte more: with the access lines).
  std::string at_limit = "{\"a\":\"" + std::string(1024 - 8, 'x') + "\"}";  // 1024 bytes
  EXPECT_EQ(200, http_request(port(), "POST", "/d2/r/tapectl/list", at_limit).status);

  // A chunked body that grows over the limit.
  Test_Socket s(port());
  ASSERT_TRUE(s.ok());
  std::string req =
      "POST /d2/r/tapectl/list HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
      "Transfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 3; ++i) req += "3e8\r\n" + std::string(1000, ' ') + "\r\n";
  ASSERT_TRUE(s.send_all(req + "0\r\n\r\n"));
  EXPECT_EQ(413, parse_reply(s.read_all()).status);
}

// With a token every route, unknown paths included, answers 401 before it
// is looked up, except a public route (the console's page) on GET and HEAD;
// the token does not make a cross-site request acceptable. Routes answered
// at once run on the polling thread (no worker is ever started) behind the
// same guards; a serialised handler never qualifies.
TEST_F(Http_Server_Test, BearerTokenGuardsEveryRouteButThePublicPage) {
  routes_.add("/page", false, counting_);
  std::string suffix;
  routes_.find("/page", suffix)->set_open(true);
  for (const char* path : {"/page", "/count", "/serial"})
    routes_.find(path, suffix)->set_at_once(true);
  EXPECT_FALSE(routes_.find("/serial", suffix)->answers_at_once());
  const std::string token = "s3cret-token-0123456789";
  start(token);
  const std::string bearer = "Authorization: Bearer " + token + "\r\n";
  const struct {
    const char* method;
    const char* target;
    std::string headers;
    int status;
  } rows[] = {
      {"GET", "/d2/r/tapectl/list", "", 401},
      {"GET", "/count", "", 401},
      {"POST", "/serial", "", 401},
      {"GET", "/no/such/route", "", 401},
      {"GET", "/bad%00path", "", 401},
      {"POST", "/page", "", 401},
      {"GET", "/page", "", 200},
      {"HEAD", "/page", "", 200},
      {"GET", "/no/such/route", bearer, 404},
      {"POST", "/count", bearer + "Origin: http://evil.example.com\r\n", 403},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + row.target + " " + row.headers);
    const std::string body = std::string(row.method) == "POST" ? "{}" : "";
    const Http_Reply r = http_request(port(), row.method, row.target, body, row.headers);
    EXPECT_EQ(row.status, r.status);
    if (row.status == 401) {
      EXPECT_NE(std::string::npos, r.headers.find("WWW-Authenticate: Bearer"));
    }
  }
  EXPECT_EQ(2, counting_.calls.load());  // the public page's GET and HEAD only
  for (int i = 3; i <= 5; ++i) {
    const Http_Reply r = http_request(port(), "GET", "/count", "", bearer);
    EXPECT_EQ(200, r.status);
    EXPECT_EQ(std::to_string(i), r.body);
  }
  EXPECT_EQ(0u, server_->workers().threads() + server_->reserved_workers().threads());
}

TEST_F(Http_Server_Test, BrowserRequestsAreRefusedBeforeAnyHandler) {
  config_.allowed_hosts = {"tapehost.example.com"};
  routes_.add("/page", false, counting_);
  std::string suffix;
  routes_.find("/page", suffix)->set_open(true);
  Log_Capture log;
  start();
  const std::string p = std::to_string(port());
  const std::string local = "Host: localhost:" + p + "\r\n";
  const struct {
    std::string head;
    int status;  // a 403 names the refusal in a JSON body (below)
  } rows[] = {
      // Which names, origins and sites pass: the request guard's test. Here
      // the server asks it with the request's headers, before the handler.
      // A page elsewhere posting cross-site, or asking first.
      {"POST /count HTTP/1.1\r\n" + local + "Origin: http://evil.example.com\r\n", 403},
      {"OPTIONS /count HTTP/1.1\r\n" + local + "Origin: http://evil.example.com\r\n", 403},
      {"GET /count HTTP/1.1\r\n" + local + "Origin: http://127.0.0.1:" + p + "\r\n", 403},
      // DNS rebinding: the browser names the attacker's host, and the 403
      // comes before the route lookup.
      {"GET /count HTTP/1.1\r\nHost: evil.example.com:" + p + "\r\n", 403},
      {"GET /nothing HTTP/1.1\r\nHost: evil.example.com:" + p + "\r\n", 403},
      // A page of another site, with or without an Origin (an image tag).
      {"GET /count HTTP/1.1\r\n" + local + "Sec-Fetch-Site: cross-site\r\n", 403},
      {"POST /count HTTP/1.1\r\n" + local + "Sec-Fetch-Site: same-site\r\n", 403},
      {"POST /page HTTP/1.1\r\n" + local + "Sec-Fetch-Site: cross-site\r\n", 403},
      // An address is never DNS rebinding, whatever the listen address.
      {"GET /count HTTP/1.1\r\nHost: [fd00::5]:" + p + "\r\n", 200},
      // A link to the console's files; the browser's own navigation.
      {"GET /page HTTP/1.1\r\n" + local + "Sec-Fetch-Site: cross-site\r\n", 200},
      {"GET /count HTTP/1.1\r\n" + local + "Sec-Fetch-Site: same-origin\r\n", 200},
      // The server's own pages, a configured name, callers without Origin.
      {"POST /count HTTP/1.1\r\n" + local + "Origin: http://localhost:" + p + "\r\n", 200},
      {"GET /count HTTP/1.1\r\nHost: tapehost.example.com:" + p + "\r\n", 200},
      {"GET /count HTTP/1.0\r\n", 200},
  };
  int served = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.head);
    Http_Reply r = raw_request(port(), row.head);
    EXPECT_EQ(row.status, r.status);
    if (row.status == 200) ++served;
    EXPECT_EQ(served, counting_.calls.load());  // refused ones never reached the handler
  }
  // The refused name is told, with the key that allows it, and logged once.
  Http_Reply r = raw_request(port(), "GET /count HTTP/1.1\r\nHost: evil.example.com:" + p + "\r\n");
  const std::string message = body_object(r)["message"].get_str();
  EXPECT_NE(std::string::npos, message.find("evil.example.com:" + p)) << message;
  EXPECT_NE(std::string::npos, message.find("\"allowed_hosts\" in web.conf")) << message;
  EXPECT_EQ(1, log.count("refused requests naming Host evil.example.com:" + p));
  EXPECT_EQ(LM_WARNING, log.priority_of("refused requests naming Host"));
}

TEST_F(Http_Server_Test, HandlerWithoutThreadConcurrencyIsSerialised) {
  start();
  std::vector<std::future<int>> replies;
  for (int i = 0; i < 6; ++i)
    replies.push_back(std::async(std::launch::async,
                                 [this] { return http_request(port(), "GET", "/serial").status; }));
  for (auto& f : replies) EXPECT_EQ(200, f.get());
  EXPECT_EQ(1, serial_.max_inside.load());
}

TEST_F(Http_Server_Test, IdleConnectionsAreClosedAndTheLimitWaits) {
  config_.max_connections = 1;
  config_.connection_timeout_seconds = 1;
  start();
  Test_Socket idle(port());
  ASSERT_TRUE(idle.ok());
  // Served once the idle connection has been timed out.
  EXPECT_EQ(200, http_request(port(), "GET", "/d2/r/tapectl/list").status);
  // The idle one was closed by the server (end of stream rather than the
  // test's guard).
  EXPECT_EQ("", idle.read_all());
}

// Threads of this process now.
int thread_count() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.' ? 1 : 0;
    closedir(d);
  }
  return n;
}

TEST_F(Http_Server_Test, IdleConnectionsTakeNoThreadAndBlockNoOne) {
  config_.max_connections_per_address = 1000;
  start();
  ASSERT_EQ(200, http_request(port(), "GET", "/d2/r/tapectl/list").status);  // workers exist
  const int before = thread_count();
  std::vector<std::unique_ptr<Test_Socket>> idle;
  for (int i = 0; i < 300; ++i) {
    idle.emplace_back(new Test_Socket(port()));
    ASSERT_TRUE(idle.back()->ok()) << i;
  }
  // Half of them have sent part of a request and stopped.
  for (std::size_t i = 0; i < idle.size(); i += 2)
    ASSERT_TRUE(idle[i]->send_all("GET /d2/r/tapectl/list HTTP/1.1\r\nHost: loc"));
  // Give the server time to take them all in; none may cost a thread.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(before, thread_count());
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(200, http_request(port(), "GET", "/d2/r/tapectl/list?serial_number=S").status);
}

// Sends `head`, then a byte every 100 ms until the server closes the
// connection or `give_up` passes; true when the server closed it.
bool trickle_until_closed(
    Test_Socket& s, std::chrono::steady_clock::duration give_up,
    const std::string& head = "GET /count HTTP/1.1\r\nHost: localhost\r\nX-Slow: ") {
  if (!s.send_all(head)) return true;
  for (auto until = std::chrono::steady_clock::now() + give_up;
       std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!s.send_all("a")) return true;
  }
  return false;
}

// Each byte well within the idle timeout, the headers never complete, or
// the whole body takes longer than the read timeout: the server gives up,
// unanswered.
TEST_F(Http_Server_Test, TricklingHeadersOrBodyAreCutOffAndHoldNoStop) {
  config_.header_timeout_seconds = 1;
  config_.request_read_timeout_seconds = 1;
  Log_Capture log;
  start();
  {
    Test_Socket s(port());
    ASSERT_TRUE(s.ok());
    EXPECT_TRUE(trickle_until_closed(s, HANG_GUARD));
    Test_Socket body(port());
    trickle_until_closed(body, std::chrono::milliseconds(100 * 40),
                         "POST /d2/r/tapectl/list HTTP/1.1\r\nHost: localhost\r\n"
                         "Connection: close\r\nContent-Length: 40\r\n\r\n");
    EXPECT_EQ(0, parse_reply(body.read_all()).status);
  }
  server_->stop();
  EXPECT_EQ(1, log.count("\"- /count\" - 0 bytes"));
  EXPECT_EQ(1, log.count("not completed: timed out"));
  // Stopping waits for handlers only, not for a client still sending.
  config_.header_timeout_seconds = 3600;
  start();
  Test_Socket s(port());
  ASSERT_TRUE(s.ok());
  std::future<bool> trickler =
      std::async(std::launch::async, [&s] { return trickle_until_closed(s, HANG_GUARD); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::future<void> stopped = std::async(std::launch::async, [this] { server_->stop(); });
  ASSERT_EQ(std::future_status::ready, stopped.wait_for(HANG_GUARD));
  EXPECT_TRUE(trickler.get());
}

TEST_F(Http_Server_Test, OneAddressCannotTakeEveryConnection) {
  config_.max_connections_per_address = 4;
  Log_Capture log;
  start();
  std::vector<std::unique_ptr<Test_Socket>> held;
  for (int i = 0; i < 4; ++i) {
    held.emplace_back(new Test_Socket(port()));
    ASSERT_TRUE(held.back()->ok());
  }
  // Over the limit: closed at once, unanswered (and not one log line
  // each). Another address is served.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(0, http_request(port(), "GET", "/count").status);
  EXPECT_GE(1, log.count("connection limit"));
  Test_Socket other(port(), 60, "127.0.0.2");
  ASSERT_TRUE(other.ok());
  ASSERT_TRUE(other.send_all("GET /count HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  EXPECT_EQ(200, parse_reply(other.read_reply()).status);
  held.pop_back();  // a slot of its own comes free
  for (auto until = std::chrono::steady_clock::now() + HANG_GUARD;
       http_request(port(), "GET", "/count").status != 200;) {
    ASSERT_LT(std::chrono::steady_clock::now(), until);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TEST_F(Http_Server_Test, ReadOnlyRoutesAnswerWhileEveryOtherWorkerWaits) {
  server_.reset(new Http_Server(config_, routes_, ""));
  server_->set_worker_limits(1, 2);
  std::string error;
  ASSERT_TRUE(server_->start(error)) << error;
  std::future<void> started = blocking_.started.get_future();
  std::future<int> slow = std::async(
      std::launch::async, [this] { return http_request(port(), "GET", "/slow").status; });
  ASSERT_EQ(std::future_status::ready, started.wait_for(HANG_GUARD));
  // The only normal worker is taken: a second normal request waits ...
  std::future<int> queued = std::async(std::launch::async, [this] {
    return http_request(port(), "GET", "/d2/r/tapectl/list").status;
  });
  EXPECT_EQ(std::future_status::timeout, queued.wait_for(std::chrono::milliseconds(100)));
  // ... and the read-only route answers meanwhile.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(200, http_request(port(), "GET", "/count").status);
  release_.set_value();
  EXPECT_EQ(200, slow.get());
  EXPECT_EQ(200, queued.get());
}

// Whether connecting to `port` is refused within the hang guard.
bool listener_closes(unsigned int port) {
  for (auto until = std::chrono::steady_clock::now() + HANG_GUARD;
       std::chrono::steady_clock::now() < until;) {
    if (Test_Socket(port, 2).ok() == false) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// A slow handler blocks no other request; stopping waits for it, takes
// no new client and refuses a request on an open connection, and frees
// the port.
TEST_F(Http_Server_Test, StopLetsTheRequestsInFlightFinishAndAnswer) {
  start();
  const std::string get = "GET /d2/r/tapectl/list HTTP/1.1\r\nHost: localhost\r\n\r\n";
  Test_Socket kept(port());  // a keep-alive connection, already served once
  ASSERT_TRUE(kept.send_all(get));
  ASSERT_EQ(200, parse_reply(kept.read_reply()).status);
  std::future<void> started = blocking_.started.get_future();
  const unsigned int p = port();
  std::future<Http_Reply> slow =
      std::async(std::launch::async, [p] { return http_request(p, "GET", "/slow"); });
  ASSERT_EQ(std::future_status::ready, started.wait_for(HANG_GUARD));
  EXPECT_EQ(200, http_request(p, "GET", "/d2/r/tapectl/list?serial_number=S").status);
  std::future<void> stopped = std::async(std::launch::async, [this] { server_->stop(); });
  EXPECT_EQ(std::future_status::timeout, stopped.wait_for(std::chrono::milliseconds(200)));
  EXPECT_TRUE(listener_closes(p));
  ASSERT_TRUE(kept.send_all(get));
  Http_Reply refused = parse_reply(kept.read_all());  // and the server closes it
  EXPECT_EQ(503, refused.status);
  EXPECT_EQ(503, body_object(refused)["status"].get_int());
  release_.set_value();
  ASSERT_EQ(std::future_status::ready, slow.wait_for(HANG_GUARD));
  Http_Reply r = slow.get();
  EXPECT_EQ(200, r.status);
  EXPECT_EQ("\"released\"", r.body);
  ASSERT_EQ(std::future_status::ready, stopped.wait_for(HANG_GUARD));
  server_->stop();
  EXPECT_FALSE(server_->running());
  EXPECT_EQ(0, http_request(p, "GET", "/d2/r/tapectl/list").status);
}

// Access lines logged so far (several may share one record).
int access_lines(Log_Capture& log) {
  int n = 0;
  for (const Log_Capture::Entry& e : log.entries()) {
    const std::string text = "\n" + e.text;
    for (auto at = text.find("\nHTTP "); at != std::string::npos; at = text.find("\nHTTP ", at + 1))
      ++n;
  }
  return n;
}

// Also counted by configured route ("none" for no route) and status.
TEST_F(Http_Server_Test, EveryRequestLogsOneAccessLine) {
  Log_Capture log;
  config_.connection_timeout_seconds = 1;  // the abandoned request ends soon
  const double list_before = d2t::metrics::http_requests("/d2/r/tapectl/list", 200);
  const double none_before = d2t::metrics::http_requests("none", 404);
  start();
  Http_Reply ok = http_request(port(), "GET", "/d2/r/tapectl/list?serial_number=S");
  ASSERT_EQ(200, ok.status);
  EXPECT_EQ(404, http_request(port(), "GET", "/nothing").status);
  EXPECT_EQ(403,
            http_request(port(), "GET", "/count", "", "Origin: http://evil.example\r\n").status);
  EXPECT_EQ(413, http_request(port(), "POST", "/d2/r/tapectl/list",
                              "{\"a\":\"" + std::string(2000, 'x') + "\"}")
                     .status);
  {
    Test_Socket gone(port());  // request line and part of the headers, then gone
    ASSERT_TRUE(gone.send_all("GET /d2/r/tapectl/list%0A HTTP/1.1\r\nHost: local"));
  }
  // The server notices the abandoned request in its own time.
  for (auto until = std::chrono::steady_clock::now() + HANG_GUARD;
       access_lines(log) < 5 && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  server_->stop();

  const std::string bytes = std::to_string(ok.body.size()) + " bytes ";
  EXPECT_EQ(1, log.count("HTTP 127.0.0.1 \"GET /d2/r/tapectl/list\" 200 " + bytes));
  EXPECT_EQ(1, log.count("HTTP 127.0.0.1 \"GET /nothing\" 404 "));
  EXPECT_EQ(1, log.count("HTTP 127.0.0.1 \"GET /count\" 403 "));
  EXPECT_EQ(1, log.count("HTTP 127.0.0.1 \"POST /d2/r/tapectl/list\" 413 "));
  EXPECT_EQ(1, log.count("HTTP 127.0.0.1 \"- /d2/r/tapectl/list%0A\" - 0 bytes "));
  EXPECT_EQ(5, access_lines(log));
  EXPECT_EQ(0, counting_.calls.load());
  EXPECT_EQ(list_before + 1, d2t::metrics::http_requests("/d2/r/tapectl/list", 200));
  EXPECT_EQ(none_before + 1, d2t::metrics::http_requests("none", 404));
}

// A port in use: the system reload test, whose reload onto one fails.
TEST(Http_Server, RefusesAnUnusableAddress) {
  Route_Table routes;
  Web_Config c;
  c.listen = "not-an-address";
  std::string error;
  EXPECT_FALSE(Http_Server(c, routes, "").start(error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
