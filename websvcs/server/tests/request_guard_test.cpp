// Which Host, Origin and Sec-Fetch-Site headers pass the browser checks.
#include "websvcs/server/request_guard.h"

#include <gtest/gtest.h>

namespace {

TEST(Request_Guard, HostIsAnAddressLocalhostOrAnAllowedName) {
  const std::vector<std::string> allowed = {"tapehost.example.com"};
  const struct {
    const char* host;
    bool ok;
  } rows[] = {
      {nullptr, true},  // HTTP/1.0 without Host: not a browser
      {"127.0.0.1", true},
      {"[::1]", true},
      {"LocalHost:8870", true},
      {"localhost.:8870", true},
      {"tapehost.example.com:8870", true},
      {"TAPEHOST.example.com.", true},
      // An address is never DNS rebinding: any one passes.
      {"10.1.2.3:8870", true},
      {"[fd00::5]:8870", true},
      // DNS rebinding: the browser names the attacker's host.
      {"evil.example.com:8870", false},
      {"tapehost.example.com.evil.net", false},
      {"localhost.evil.net", false},
      {"10.1.2.3.evil.net", false},
      {"1.2.3:8870", false},
      {"[evil.example.com]:8870", false},
      {"[127.0.0.1]", false},
      {"::1", false},
      {"", false},
      {":8870", false},
      {"localhost:", false},
      {"localhost:88x", false},
      {"localhost:8870:1", false},
      {"[::1", false},
      {"[::1]x", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.ok, host_allowed(row.host, allowed)) << (row.host ? row.host : "(none)");
  EXPECT_FALSE(host_allowed("tapehost.example.com", {}));
}

// The Origin a browser sends must be the server's own: scheme (https://
// under TLS), host as the request's Host names it, and port.
TEST(Request_Guard, OriginMustBeTheServersOwn) {
  EXPECT_TRUE(origin_allowed("https://localhost:8870", "localhost:8870", "https://127.0.0.1:8870"));
  EXPECT_FALSE(origin_allowed("http://localhost:8870", "localhost:8870", "https://127.0.0.1:8870"));
  const std::string own = "http://127.0.0.1:8870";
  EXPECT_TRUE(origin_allowed(nullptr, "127.0.0.1:8870", own));  // curl, backup software
  EXPECT_TRUE(origin_allowed("http://127.0.0.1:8870", "127.0.0.1:8870", own));
  EXPECT_TRUE(origin_allowed("http://LOCALHOST:8870", "localhost:8870", own));
  EXPECT_TRUE(origin_allowed("http://127.0.0.1:8870", nullptr, own));
  EXPECT_FALSE(origin_allowed("http://evil.example.com", "127.0.0.1:8870", own));
  EXPECT_FALSE(origin_allowed("null", "127.0.0.1:8870", own));
  EXPECT_FALSE(origin_allowed("", "127.0.0.1:8870", own));
  EXPECT_FALSE(origin_allowed("https://127.0.0.1:8870", "127.0.0.1:8870", own));
  EXPECT_FALSE(origin_allowed("http://127.0.0.1:8871", "127.0.0.1:8870", own));
  EXPECT_FALSE(origin_allowed("http://localhost:8870", "127.0.0.1:8870", own));
  EXPECT_FALSE(origin_allowed("http://127.0.0.1:8870", nullptr, "http://127.0.0.1:9000"));
}

TEST(Request_Guard, PagesOfOtherSitesAreRefusedButForPublicFiles) {
  for (const char* site : {"cross-site", "same-site", "Cross-Site"}) {
    EXPECT_FALSE(fetch_site_allowed(site, false)) << site;
    EXPECT_TRUE(fetch_site_allowed(site, true)) << site;  // a link to the console
  }
  for (const char* site : {"same-origin", "none"}) EXPECT_TRUE(fetch_site_allowed(site, false));
  EXPECT_TRUE(fetch_site_allowed(nullptr, false));
}

TEST(Request_Guard, EachRefusedHostIsReportedOnceWithinTheBound) {
  Refused_Hosts refused(2);
  EXPECT_TRUE(refused.first_refusal("a.example"));
  EXPECT_FALSE(refused.first_refusal("a.example"));
  EXPECT_TRUE(refused.first_refusal("b.example"));
  EXPECT_FALSE(refused.first_refusal("c.example"));  // full: no more remembered or reported
}

}  // namespace
