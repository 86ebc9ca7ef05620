// Shared by the server, tape-control and system tests: the HTTP test
// client with the socket headers its users write raw requests with, and a
// fixture owning a temporary directory.
#ifndef WEBSVCS_SERVER_TESTS_SUPPORT_H
#define WEBSVCS_SERVER_TESTS_SUPPORT_H

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "testing/http_client.h"
#include "testing/temp_dir.h"

// A fresh directory per test, removed afterwards.
class Temp_Dir : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& text) {
    std::string p = dir_ + "/" + name;
    std::ofstream(p.c_str()) << text;
    return p;
  }
  test_support::Temp_Dir tmp_{"websvcs_server_test"};
  std::string dir_ = tmp_.path();
};

#endif
