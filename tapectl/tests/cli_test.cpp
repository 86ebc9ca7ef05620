// tapectl's command line, target resolution, calls and their outcomes
// (answered, nothing sent, sent without answer, https), and tables. The
// program against a whole daemon: tests/system/daemon_test.cpp.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <sstream>
#include <thread>

#include "json_spirit/json_spirit.h"
#include "tapectl/cli_options.h"
#include "tapectl/commands.h"
#include "tapectl/curl_client.h"
#include "tapectl/tables.h"
#include "testing/test_certificate.h"
#include "websvcs/framework/framework.h"
#include "websvcs/server/http_server.h"
#include "websvcs/server/tests/support.h"

using namespace tapectl;

namespace {

bool parse(std::vector<std::string> args, Options& o, std::string& error) {
  o = Options();
  error.clear();
  return parse_command_line(args, o, error);
}

struct Ran {
  int status;
  std::string out;
  std::string err;
};

Ran run(const Options& o, const std::string& answer = "") {
  std::istringstream in(answer);
  std::ostringstream out, err;
  const int status = run_command(o, in, out, err, false);
  return {status, out.str(), err.str()};
}

Options command(const std::string& url, const std::string& name, Operands operands = {}) {
  Options o;
  o.url = url;
  o.command = name;
  o.operands = std::move(operands);
  o.timeout_seconds = 60;
  return o;
}

// A loopback port that answers one connection with `reply` ("" for
// nothing) after the request's head has arrived, then keeps the connection
// open until destroyed: a daemon that never answers, or one that keeps
// the connection alive after its reply.
class Scripted_Server {
 public:
  explicit Scripted_Server(std::string reply) : reply_(std::move(reply)) {
    if (listener_.ok()) thread_ = std::thread([this] { serve(); });
  }
  ~Scripted_Server() {
    ::shutdown(listener_.fd(), SHUT_RDWR);
    if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (client_ >= 0) ::close(client_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(listener_.port()); }

 private:
  void serve() {
    client_ = ::accept(listener_.fd(), nullptr, nullptr);
    if (client_ < 0) return;
    std::string head;
    char buf[4096];
    for (ssize_t n; head.find("\r\n\r\n") == std::string::npos &&
                    (n = ::recv(client_, buf, sizeof buf, 0)) > 0;)
      head.append(buf, static_cast<std::size_t>(n));
    if (!reply_.empty()) ::send(client_, reply_.data(), reply_.size(), MSG_NOSIGNAL);
    while (::recv(client_, buf, sizeof buf, 0) > 0) {
    }
  }
  std::string reply_;
  Test_Listener listener_;
  int client_ = -1;
  std::thread thread_;
};

TEST(Cli, OptionsGoBeforeOrAfterTheSubcommand) {
  Options o;
  std::string e;
  ASSERT_TRUE(parse(
      {"--json", "load", "D1", "--url=http://h:1", "T1", "--timeout", "5", "--cacert", "/ca.pem"},
      o, e))
      << e;
  EXPECT_EQ(std::make_tuple("load", "D1 T1", true, "http://h:1", "/ca.pem", 5),
            std::make_tuple(o.command, o.operands.at(0) + " " + o.operands.at(1), o.json, o.url,
                            o.ca_file, o.timeout_seconds));
  ASSERT_TRUE(parse({"move", "--help"}, o, e));  // help needs no operands
  EXPECT_TRUE(o.help);
  ASSERT_TRUE(parse({"help", "rescan"}, o, e));
  EXPECT_EQ("rescan", o.command);
  ASSERT_TRUE(parse({"--version"}, o, e));
  EXPECT_TRUE(o.version);
  ASSERT_TRUE(parse({"status", "--", "-L1"}, o, e)) << e;  // "--" ends the options
  EXPECT_EQ("-L1", o.operands.at(0));
  ASSERT_TRUE(parse({"ops", "--timeout=2592000"}, o, e)) << e;
  EXPECT_EQ(2592000, o.timeout_seconds);
  EXPECT_NE(std::string::npos, command_help("rescan").find("MOVES CARTRIDGES"));
  EXPECT_NE(std::string::npos, general_help().find("4 the request was sent and no answer came"));

  const std::vector<std::vector<std::string>> bad = {{},
                                                     {"frobnicate"},
                                                     {"status", "A", "B"},
                                                     {"load", "D1"},
                                                     {"--url"},
                                                     {"status", "--timeout", "soon"},
                                                     {"status", "--timeout", "-1"},
                                                     {"status", "--timeout", "2592001"},
                                                     {"status", "--timeout", "4294967296"},
                                                     {"status", "--json=yes"},
                                                     {"move", "L", "T", "1", "x"},
                                                     {"--colour", "ops"}};
  for (const auto& args : bad) EXPECT_FALSE(parse(args, o, e)) << ::testing::PrintToString(args);
  EXPECT_FALSE(parse({"ops", "--timeout", "99999999999"}, o, e));
  EXPECT_NE(std::string::npos, e.find("--timeout")) << e;
}

typedef Temp_Dir Cli_Files;

TEST_F(Cli_Files, TargetFromOptionsEnvironmentOrWebConfiguration) {
  std::string e;
  for (const char* good : {"http://[::1]:9000/base/", "https://tape.example:8871", "http://h"})
    EXPECT_TRUE(check_base_url(good, e)) << good << ": " << e;
  for (const char* bad : {"ftp://h", "h:80", "http://h/?q=1", "http://u@h/", "http://[::1"})
    EXPECT_FALSE(check_base_url(bad, e)) << bad;

  const std::string conf = write("web.conf", R"({"listen": "0.0.0.0", "port": 9123,
      "token_file": ")" + dir_ + R"(/token"})");
  write("token", "0123456789abcdef0123");
  using Target = std::pair<std::string, std::string>;  // URL and token file
  const struct {
    std::string conf;
    Target options, environment, want;
  } rows[] = {
      {conf, {}, {}, {"http://127.0.0.1:9123", dir_ + "/token"}},
      // The configured token goes to the configured daemon only.
      {conf, {"http://elsewhere:1", ""}, {}, {"http://elsewhere:1", ""}},
      // The environment fills what no option gave.
      {conf, {}, {"https://env:2", "/env/token"}, {"https://env:2", "/env/token"}},
      {conf,
       {"http://o:3", "/o/token"},
       {"https://env:2", "/env/token"},
       {"http://o:3", "/o/token"}},
      {dir_ + "/missing.conf", {}, {}, {"http://127.0.0.1:8870", ""}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.options.first + " " + row.environment.first);
    for (const auto& env : {std::make_pair("TAPECTL_URL", row.environment.first),
                            std::make_pair("TAPECTL_TOKEN_FILE", row.environment.second)}) {
      if (env.second.empty()) ::unsetenv(env.first);
      if (!env.second.empty()) ::setenv(env.first, env.second.c_str(), 1);
    }
    Options o;
    std::tie(o.url, o.token_file) = row.options;
    resolve_target(row.conf, o);
    EXPECT_EQ(row.want, Target(o.url, o.token_file));
  }
  ::unsetenv("TAPECTL_URL");
  ::unsetenv("TAPECTL_TOKEN_FILE");
  std::string url, token;
  default_target(write("tls.conf", R"({"port": 8871, "tls_certificate": "/c.pem"})"), url, token);
  EXPECT_EQ("https://127.0.0.1:8871", url);

  // A token file that cannot be read is a usage error naming it.
  Options missing = command("http://127.0.0.1:1", "ops");
  missing.token_file = dir_ + "/no-such-token";
  const Ran r = run(missing);
  EXPECT_EQ(EXIT_USAGE, r.status);
  EXPECT_NE(std::string::npos, r.err.find(missing.token_file)) << r.err;
}

TEST(Cli, NothingSentIsThreeSentWithoutAnswerIsFour) {
  // A port nobody listens on: refused before anything is sent.
  const unsigned int closed = Test_Listener().port();  // closed again at once
  Ran r = run(command("http://127.0.0.1:" + std::to_string(closed), "unload", {"D1"}));
  EXPECT_EQ(EXIT_UNREACHABLE, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("nothing was sent")) << r.err;

  // A daemon that takes the request and never answers: the load may be
  // under way, and the operator is told how to look.
  Scripted_Server silent("");
  Options load = command(silent.url(), "load", {"D1", "T1"});
  load.timeout_seconds = 1;
  r = run(load);
  EXPECT_EQ(EXIT_NO_ANSWER, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find(NO_ANSWER_TEXT)) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("tapectl ops")) << r.err;

  // A chunked reply on a connection kept open ends where its chunks end.
  Scripted_Server chunked(
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
      "1\r\n[\r\n1\r\n]\r\n0\r\n\r\n");
  r = run(command(chunked.url(), "ops"));
  EXPECT_EQ(EXIT_OK, r.status) << r.err;
  EXPECT_EQ("No operation running or queued.\n", r.out);
  // A reply cut short of its length is no answer.
  Scripted_Server cut("HTTP/1.1 500 X\r\nContent-Length: 100\r\n\r\n{\"message\":");
  Options move = command(cut.url(), "move", {"L1", "T1", "1", "2"});
  move.timeout_seconds = 2;
  EXPECT_EQ(EXIT_NO_ANSWER, run(move).status);
}

class Operations_Handler : public JSON_RESTful_Handler {
 public:
  CONCURRENCY concurrency() const override { return THREAD; }
  int handle_request(JSON_RESTful_Channel* ch, json_spirit::Value&) override {
    return ch->send_value(json_spirit::Value(json_spirit::Array()));
  }
};

TEST_F(Cli_Files, HttpsWithTheDaemonsCertificateAndNoPlainHttp) {
  Web_Config config;
  config.port = 0;
  ASSERT_TRUE(make_test_certificate(dir_, config.tls_certificate, config.tls_key));
  Route_Table routes;
  Operations_Handler handler;
  routes.add("/d2/r/tapectl/operations", false, handler);
  Http_Server server(config, routes, "0123456789abcdef0123");
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;

  Options ops = command(server.url(), "ops");
  ops.ca_file = config.tls_certificate;
  ops.token_file = write("token", "0123456789abcdef0123\n");
  Ran r = run(ops);
  EXPECT_EQ(EXIT_OK, r.status) << r.err;
  EXPECT_EQ("No operation running or queued.\n", r.out);
  // Not trusted by the system's store: the handshake fails, nothing sent.
  ops.ca_file.clear();
  EXPECT_EQ(EXIT_UNREACHABLE, run(ops).status);
  // Plain http to the TLS port: the connection closes without an answer.
  Test_Socket plain(server.port(), 30);
  ASSERT_TRUE(plain.ok());
  plain.send_all("GET /d2/r/tapectl/operations HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(std::string::npos, plain.read_all().find("HTTP/1.")) << "plain http answered";
}

TEST(Cli, TablesAlignAndMarkCartridgesInDrives) {
  Table t({"A", "LONGER"});
  t.add({"wide cell", "x"});
  EXPECT_EQ("A          LONGER\nwide cell  x\n", t.render(false));

  json_spirit::Value inv;
  ASSERT_TRUE(
      json_spirit::read(R"([{"serial_number":"L1","vendor":"V","model":"M","sg_name":"/dev/sg1",
    "type":"virtual","drives":[{"drive_number":0,"serial_number":"D0","dev_name":"/dev/st0",
    "faulty":true,"slot_number":2,"media_tag":"T2","failures":3}],
    "slots":[{"slot_number":1,"state":"unknown","is_porter":false,"media_tag":"T1"},
             {"slot_number":2,"state":"unknown","is_porter":false,"media_tag":"T2"},
             {"slot_number":3,"state":"empty","is_porter":true}]}])",
                        inv));
  const std::string out = render_inventory(inv, false);
  EXPECT_NE(std::string::npos, out.find("Library L1 (V M, /dev/sg1, virtual)\n")) << out;
  EXPECT_NE(std::string::npos,
            out.find("0      D0      /dev/st0  T2         2     3         yes\n"))
      << out;
  EXPECT_NE(std::string::npos, out.find("3 slots: 1 full, 0 cleaning, 2 empty, 1 porter")) << out;
  EXPECT_NE(std::string::npos, out.find("  2  *d0")) << out;
  EXPECT_EQ(std::string::npos, out.find('\033'));
  EXPECT_EQ("No operation running or queued.\n", render_operations(json_spirit::Array(), false));
}

}  // namespace
