// https on the server: a certificate made at test time, a key others may
// read refused, plain http to the TLS port closed, and the start-up
// warnings about exposure.
#include "websvcs/server/tls.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/framework.h"
#include "websvcs/server/http_server.h"
#include "websvcs/server/tests/support.h"
#include "websvcs/server/tests/tls_support.h"

namespace {

class Hello_Handler : public JSON_RESTful_Handler {
 public:
  CONCURRENCY concurrency() const override { return THREAD; }
  int handle_request(JSON_RESTful_Channel* ch, json_spirit::Value&) override {
    return ch->send_value(json_spirit::Value("hello"));
  }
};

size_t append(char* data, size_t size, size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

// GET `url` with libcurl trusting `ca_file`; the status (0: no reply) and
// the body.
long https_get(const std::string& url, const std::string& ca_file, std::string& body) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, ca_file.c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  return status;
}

class Tls_Test : public Temp_Dir {
 protected:
  void SetUp() override {
    Temp_Dir::SetUp();
    ASSERT_TRUE(make_test_certificate(dir_, cert_, key_)) << "openssl could not make a certificate";
    config_.port = 0;
    config_.tls_certificate = cert_;
    config_.tls_key = key_;
    routes_.add("/hello", false, hello_);
  }
  std::string cert_, key_;
  Web_Config config_;
  Route_Table routes_;
  Hello_Handler hello_;
};

TEST_F(Tls_Test, ServesHttpsAndClosesPlainHttp) {
  Http_Server server(config_, routes_, "");
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  EXPECT_EQ("https://127.0.0.1:" + std::to_string(server.port()), server.url());
  std::string body;
  EXPECT_EQ(200, https_get(server.url() + "/hello", cert_, body));
  EXPECT_EQ("\"hello\"", body);
  // A client that does not trust the certificate gets no reply.
  EXPECT_EQ(0, https_get(server.url() + "/hello", "/dev/null", body));
  // Plain http to the TLS port: the connection closes without an answer.
  Test_Socket s(server.port(), 30);
  ASSERT_TRUE(s.ok());
  s.send_all("GET /hello HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(std::string::npos, s.read_all().find("HTTP/1."));
}

TEST_F(Tls_Test, RefusesKeysOthersMayReadAndFilesThatAreNotPem) {
  std::string error;
  ASSERT_EQ(0, ::chmod(key_.c_str(), 0644));
  EXPECT_FALSE(Http_Server(config_, routes_, "").start(error));
  EXPECT_NE(std::string::npos, error.find(key_)) << error;
  ASSERT_EQ(0, ::chmod(key_.c_str(), 0640));  // owner and group only: fine
  Tls_Credentials tls;
  EXPECT_TRUE(tls.load(config_, error)) << error;
  EXPECT_TRUE(tls.enabled());

  Web_Config swapped = config_;
  std::swap(swapped.tls_certificate, swapped.tls_key);  // each lacks the other's block
  ASSERT_EQ(0, ::chmod(cert_.c_str(), 0600));
  EXPECT_FALSE(tls.load(swapped, error));
  EXPECT_FALSE(tls.enabled());
  swapped.tls_key = dir_ + "/missing.pem";
  swapped.tls_certificate = cert_;
  EXPECT_FALSE(tls.load(swapped, error));
  EXPECT_NE(std::string::npos, error.find("missing.pem")) << error;

  // The configuration takes both keys or neither.
  Web_Config parsed;
  json_spirit::Value v;
  ASSERT_TRUE(json_spirit::read(R"({"tls_certificate": "/c.pem"})", v));
  EXPECT_FALSE(parse_web_config(v, parsed, error));
  ASSERT_TRUE(json_spirit::read(R"({"tls_certificate": "/c.pem", "tls_key": "/k.pem"})", v));
  ASSERT_TRUE(parse_web_config(v, parsed, error)) << error;
  EXPECT_EQ("/k.pem", parsed.tls_key);
}

TEST(Exposure, WarnsOfCleartextOffLoopbackAndOfNoToken) {
  Web_Config c;
  EXPECT_TRUE(exposure_warnings(c, true).empty());
  const std::vector<std::string> local = exposure_warnings(c, false);
  ASSERT_EQ(1u, local.size());
  EXPECT_NE(std::string::npos, local[0].find("any local account can")) << local[0];
  c.listen = "10.1.2.3";
  ASSERT_EQ(1u, exposure_warnings(c, true).size());
  EXPECT_NE(std::string::npos, exposure_warnings(c, true)[0].find("without TLS"));
  c.tls_certificate = "/c.pem";
  c.tls_key = "/k.pem";
  EXPECT_TRUE(exposure_warnings(c, true).empty());
}

}  // namespace
