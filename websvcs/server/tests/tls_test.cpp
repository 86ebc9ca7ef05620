// The server's TLS files: a certificate made at test time, a key others
// may read refused, and the start-up warnings about exposure. https and
// plain http against a running server: tapectl's cli_test, which talks to
// it as the operator does.
#include "websvcs/server/tls.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testing/test_certificate.h"
#include "websvcs/server/http_server.h"
#include "websvcs/server/tests/support.h"

namespace {

class Tls_Test : public Temp_Dir {
 protected:
  void SetUp() override {
    Temp_Dir::SetUp();
    ASSERT_TRUE(make_test_certificate(dir_, cert_, key_)) << "openssl could not make a certificate";
    config_.port = 0;
    config_.tls_certificate = cert_;
    config_.tls_key = key_;
  }
  std::string cert_, key_;
  Web_Config config_;
  Route_Table routes_;
};

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
