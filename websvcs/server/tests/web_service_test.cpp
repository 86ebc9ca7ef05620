// The service object initialised with its directive's arguments. Its
// module's factory and the token file are used by every system test, which
// starts the daemon through `starter` with a token.
#include "websvcs/server/web_service.h"

#include <gtest/gtest.h>

#include "ace/Log_Msg.h"
#include "websvcs/server/tests/support.h"

namespace {

const std::string PLUGIN = TEST_HANDLERS_PLUGIN;

class Web_Service_Test : public Temp_Dir {
 protected:
  void SetUp() override {
    Temp_Dir::SetUp();
    ACE_LOG_MSG->priority_mask(0, ACE_Log_Msg::PROCESS);  // keep the test output quiet
  }
  std::string config(const std::string& extra = "") {
    return write("web.conf", R"({"port": 0, "default_routes": false, )" + extra + R"( "routes": [
        {"path": "/d2/r/tapectl/list", "library": ")" +
                                 PLUGIN + R"(",
         "factory": "_make_Test_Echo_Handler"}]})");
  }
  static int init(ACE_Service_Object& s, std::vector<std::string> words) {
    std::vector<ACE_TCHAR*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return s.init(static_cast<int>(words.size()), argv.data());
  }
};

TEST_F(Web_Service_Test, FailedInitLeavesNothingRunning) {
  Web_Service svc;
  EXPECT_EQ(-1, init(svc, {"-z"}));
  EXPECT_EQ(-1, init(svc, {"-c", config("\"token_file\": \"" + dir_ + "/none\",")}));
  EXPECT_EQ(-1, init(svc, {"-c", write("r.conf", R"({"port": 0, "routes": [
      {"path": "/a", "library": "/nonexistent.so", "factory": "_make_A"}]})")}));
  // No -c: the default path under /etc is used; it does not exist here.
  ASSERT_EQ(0, setenv("COMPONENT", "tapectl", 1));
  EXPECT_EQ(-1, init(svc, {}));
  EXPECT_EQ("", svc.url());
  EXPECT_EQ(0, svc.fini());
  EXPECT_EQ(0, svc.fini());
}

// A reload's new service takes the old one's listening socket: the port
// answers throughout, also after the old service is gone; an unchanged
// configuration is kept, a changed one asks to be replaced.
TEST_F(Web_Service_Test, NewServiceTakesOverTheListeningSocket) {
  const std::string path = config();
  Web_Service old_svc;
  ASSERT_EQ(0, init(old_svc, {"-c", path}));
  const unsigned int port = old_svc.port();
  EXPECT_EQ(Hosted_Service::KEEP, old_svc.prepare_reload());
  config("\"connection_timeout_seconds\": 5,");
  EXPECT_EQ(Hosted_Service::REPLACE, old_svc.prepare_reload());

  Web_Service new_svc;
  ASSERT_EQ(0, init(new_svc, {"-c", path}));
  EXPECT_EQ(port, new_svc.port()) << "port 0 in both: the old socket is taken over";
  EXPECT_EQ(200, http_request(port, "GET", "/d2/r/tapectl/list").status);
  EXPECT_EQ(404, http_request(port, "GET", "/d2/r/tapectl/info").status);  // no built-in routes
  EXPECT_EQ(0, old_svc.fini());
  EXPECT_EQ(200, http_request(port, "GET", "/d2/r/tapectl/list").status);
  EXPECT_EQ(0, new_svc.fini());
  EXPECT_EQ(0, http_request(port, "GET", "/d2/r/tapectl/list").status);
}

}  // namespace
