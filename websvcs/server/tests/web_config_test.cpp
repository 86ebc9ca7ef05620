#include "websvcs/server/web_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <tuple>

#include "json_spirit/json_spirit.h"
#include "websvcs/server/default_routes.h"
#include "websvcs/server/tests/support.h"
#include "websvcs/server/token.h"

namespace {

bool parse(const std::string& text, Web_Config& c, std::string& error) {
  json_spirit::Value v;
  EXPECT_TRUE(json_spirit::read(text, v)) << text;
  return parse_web_config(v, c, error);
}

// Every key read into its field; host names as a browser sends them.
TEST(Web_Config, FullForm) {
  Web_Config c;
  std::string error;
  ASSERT_TRUE(parse(R"({"listen": "::1", "port": 0, "max_body_bytes": 10,
      "connection_timeout_seconds": 5, "max_connections": 3, "header_timeout_seconds": 2,
      "max_connections_per_address": 4, "default_routes": false,
      "allowed_hosts": ["TapeHost.example.com.", "backup-1", "fd00::5", "[FD00::6]"],
      "routes": [{"path": "/d2/r/tapectl/list", "library": "libtapectl_web.so",
                  "factory": "_make_JSON_RESTful_List_Handler"},
                 {"path": "/x", "library": "/abs/l.so", "factory": "_make_X",
                  "prefix": true, "args": ["-v"]},
                 {"path": "/ui/", "library": "l.so", "factory": "_make_Y", "public": true}]})",
                    c, error))
      << error;
  EXPECT_EQ(std::make_tuple("::1", 0u, 10u, 5u, 3u, 2u, 4u, false),
            std::make_tuple(c.listen, c.port, c.max_body_bytes, c.connection_timeout_seconds,
                            c.max_connections, c.header_timeout_seconds,
                            c.max_connections_per_address, c.default_routes));
  EXPECT_EQ((std::vector<std::string>{"tapehost.example.com", "backup-1", "fd00::5", "fd00::6"}),
            c.allowed_hosts);
  ASSERT_EQ(3u, c.routes.size());
  EXPECT_EQ("libtapectl_web.so", c.routes[0].library);
  EXPECT_EQ(std::make_tuple(false, true, false, true, 1u),
            std::make_tuple(c.routes[0].prefix, c.routes[1].prefix, c.routes[1].open,
                            c.routes[2].open, c.routes[1].args.size()));
  // Off loopback only with a token.
  EXPECT_TRUE(parse(R"({"listen": "0.0.0.0", "token_file": "/etc/t"})", c, error)) << error;
  EXPECT_TRUE(parse(R"({"listen": "127.0.0.2"})", c, error)) << error;
}

TEST(Web_Config, RefusesBadValues) {
  const char* bad[] = {
      "[]",
      R"({"port": 70000})",
      R"({"port": -1})",
      R"({"port": "8870"})",
      R"({"max_connections_per_address": 0})",  // each number has its range
      R"({"listen": "localhost"})",
      R"({"listen": ""})",
      R"({"routes": {}})",
      R"({"default_routes": "no"})",
      R"({"allowed_hosts": "tapehost"})",
      R"({"allowed_hosts": [1]})",
      R"({"allowed_hosts": [""]})",
      R"({"allowed_hosts": ["tapehost:8870"]})",
      R"({"allowed_hosts": ["[fd00::5]:8870"]})",
      R"({"allowed_hosts": ["*.example.com"]})",
      R"({"tls_certificate": "/c.pem"})",  // both TLS files or neither
      R"({"routes": [{"path": "nope", "library": "l", "factory": "f"}]})",
      R"({"routes": [{"path": "/a?b", "library": "l", "factory": "f"}]})",
      R"({"routes": [{"path": "/a/", "library": "l", "factory": "f", "prefix": true}]})",
      R"({"routes": [{"path": "/a", "library": "l", "factory": "f", "public": "yes"}]})",
      R"({"routes": [{"path": "/a", "library": "", "factory": "f"}]})",
      R"({"routes": [{"path": "/a", "library": "l", "factory": "f", "args": [1]}]})",
      R"({"routes": [{"path": "/a", "library": "l", "factory": "f"},
                     {"path": "/a", "library": "m", "factory": "g"}]})",
      R"({"listen": "0.0.0.0"})",  // off loopback without a "token_file"
      R"({"listen": "::"})",
  };
  for (const char* text : bad) {
    Web_Config c;
    std::string error;
    EXPECT_FALSE(parse(text, c, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

// A web.conf written before a route was added still gets it: the file's
// routes replace built-in ones by path and add the others after them.
TEST(Web_Config, FileRoutesLayOverTheBuiltInOnes) {
  const std::vector<Web_Route_Config> builtin = default_routes();
  Web_Config c;
  std::string error;
  ASSERT_TRUE(parse(R"({"routes": [
      {"path": "/extra", "library": "x.so", "factory": "_make_X"},
      {"path": "/metrics", "library": "m.so", "factory": "_make_M"}]})",
                    c, error))
      << error;
  const std::vector<Web_Route_Config> merged = merge_routes(builtin, c.routes);
  ASSERT_EQ(builtin.size() + 1, merged.size());
  for (std::size_t i = 0; i < builtin.size(); ++i) {
    EXPECT_EQ(builtin[i].path, merged[i].path);
    EXPECT_EQ(builtin[i].path == "/metrics" ? "m.so" : builtin[i].library, merged[i].library);
  }
  EXPECT_EQ("/extra", merged.back().path);
}

typedef Temp_Dir Web_Config_File;

TEST_F(Web_Config_File, LoadsOrExplains) {
  Web_Config c;
  std::string error;
  EXPECT_FALSE(load_web_config(write("bad.conf", "{port: 1}"), c, error));
  EXPECT_NE(std::string::npos, error.find("bad.conf"));
  // The shipped file.
  ASSERT_TRUE(load_web_config(D2T_SOURCE_DIR "/dist/web.conf", c, error)) << error;
  EXPECT_LE(1024u, c.max_connections);
  EXPECT_EQ("/etc/opt/quillon/kestrel3/tape/token", c.token_file);  // made at install
  EXPECT_TRUE(c.routes.empty());                                    // the built-in ones serve
}

typedef Temp_Dir Token;

TEST_F(Token, ReadsTrimmedTokenAndRefusesWeakOrExposedOnes) {
  // Owner and group may read it; the file is named in every refusal.
  auto token_file = [this](const std::string& name, const std::string& text, mode_t mode) {
    std::string p = write(name, text);
    chmod(p.c_str(), mode);
    return p;
  };
  std::string t, error;
  ASSERT_TRUE(read_token_file(token_file("t", "  0123456789abcdefXYZ\n", 0640), t, error)) << error;
  EXPECT_EQ("0123456789abcdefXYZ", t);
  for (const std::string& p :
       {token_file("short", "abc\n", 0600), token_file("empty", "\n\n", 0600),
        token_file("two", "0123456789abcdef 0123456789abcdef", 0600),
        token_file("exposed", "0123456789abcdefXYZ", 0644), dir_ + "/none", dir_}) {
    EXPECT_FALSE(read_token_file(p, t, error)) << p;
    EXPECT_NE(std::string::npos, error.find(p)) << error;
  }
  EXPECT_NE(std::string::npos, error.find("not a regular file")) << error;
  read_token_file(dir_ + "/exposed", t, error);
  EXPECT_NE(std::string::npos, error.find("readable by others")) << error;
}

TEST(Bearer_Token, MatchesOnlyTheExactToken) {
  const std::string token = "0123456789abcdef";
  EXPECT_TRUE(bearer_token_matches(token, "Bearer 0123456789abcdef"));
  EXPECT_TRUE(bearer_token_matches(token, "bearer 0123456789abcdef"));
  EXPECT_FALSE(bearer_token_matches(token, nullptr));
  for (const char* wrong : {"", "Bearer ", "Bearer 0123456789abcde" /* prefix */,
                            "Bearer 0123456789abcdef0" /* longer */, "Bearer 0123456789abcdeF",
                            "Basic 0123456789abcdef"})
    EXPECT_FALSE(bearer_token_matches(token, wrong)) << wrong;
  EXPECT_FALSE(bearer_token_matches("", "Bearer "));
}

}  // namespace
