// tapectl's command line, URL and reply parsing, and tables (the program
// against a daemon: cli_e2e_test).
#include <gtest/gtest.h>

#include <fstream>

#include "json_spirit/json_spirit.h"
#include "tapectl/cli_options.h"
#include "tapectl/http_client.h"
#include "tapectl/tables.h"
#include "websvcs/server/tests/support.h"

using namespace tapectl;

namespace {

bool parse(std::vector<std::string> args, Options& o, std::string& error) {
  o = Options();
  error.clear();
  return parse_command_line(args, o, error);
}

TEST(Cli, OptionsGoBeforeOrAfterTheSubcommand) {
  Options o;
  std::string e;
  ASSERT_TRUE(parse({"--json", "load", "D1", "--url=http://h:1", "T1", "--timeout", "5"}, o, e))
      << e;
  EXPECT_EQ("load", o.command);
  EXPECT_EQ((std::vector<std::string>{"D1", "T1"}), o.operands);
  EXPECT_TRUE(o.json);
  EXPECT_EQ("http://h:1", o.url);
  EXPECT_EQ(5, o.timeout_seconds);
  ASSERT_TRUE(parse({"move", "--help"}, o, e));  // help needs no operands
  EXPECT_TRUE(o.help);
  ASSERT_TRUE(parse({"help", "rescan"}, o, e));
  EXPECT_EQ("rescan", o.command);
  EXPECT_NE(std::string::npos, command_help("rescan").find("MOVES CARTRIDGES"));
  EXPECT_NE(std::string::npos, general_help().find("3 the daemon cannot be reached"));

  const std::vector<std::vector<std::string>> bad = {{},
                                                     {"frobnicate"},
                                                     {"status", "A", "B"},
                                                     {"load", "D1"},
                                                     {"--url"},
                                                     {"status", "--timeout", "soon"},
                                                     {"move", "L", "T", "1", "x"},
                                                     {"--colour", "ops"}};
  for (const auto& args : bad) EXPECT_FALSE(parse(args, o, e)) << args.size();
}

typedef Temp_Dir Cli_Files;

TEST_F(Cli_Files, UrlsAndDefaultsFromTheWebConfiguration) {
  Url u;
  std::string e;
  ASSERT_TRUE(parse_url("http://[::1]:9000/base/", u, e)) << e;
  EXPECT_EQ("::1", u.host);
  EXPECT_EQ("9000", u.port);
  EXPECT_EQ("/base", u.prefix);
  ASSERT_TRUE(parse_url("http://example.test", u, e));
  EXPECT_EQ("80", u.port);
  for (const char* bad : {"https://h", "http://:80", "http://h:0", "http://h:x", "http://[::1"})
    EXPECT_FALSE(parse_url(bad, u, e)) << bad;

  const std::string conf = dir_ + "/web.conf";
  std::ofstream(conf) << R"({"listen": "0.0.0.0", "port": 9123, "token_file": "/etc/t"})";
  std::string url, token;
  default_target(conf, url, token);
  EXPECT_EQ("http://127.0.0.1:9123", url);
  EXPECT_EQ("/etc/t", token);
  default_target(dir_ + "/missing.conf", url, token);
  EXPECT_EQ("http://127.0.0.1:8870", url);
  EXPECT_EQ("", token);
}

TEST(Cli, RepliesWithLengthOrChunks) {
  Http_Result r;
  ASSERT_TRUE(parse_http_reply(
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Type: text/x\r\n\r\n[]", r));
  EXPECT_EQ("[]", r.body);
  EXPECT_EQ("text/x", r.content_type);
  ASSERT_TRUE(parse_http_reply(
      "HTTP/1.1 500 X\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n1\r\nd\r\n0\r\n\r\n", r));
  EXPECT_EQ(500, r.status);
  EXPECT_EQ("abcd", r.body);
  EXPECT_FALSE(parse_http_reply("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", r));
  EXPECT_FALSE(parse_http_reply("garbage\r\n\r\n", r));
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
