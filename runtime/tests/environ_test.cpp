// The environment accessors, alone and from concurrent threads.
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/environ.h"
#include "runtime/tests/log_capture.h"

TEST(Environ, GetSetAndRemove) {
  const char* name = "ENVIRON_TEST_GET";
  ASSERT_TRUE(set_env(name, nullptr)) << "removing an unset variable succeeds";
  EXPECT_EQ(get_env_r(name), "");
  ASSERT_TRUE(set_env(name, ""));
  EXPECT_NE(std::getenv(name), nullptr);
  EXPECT_EQ(get_env_r(name), "");
  ASSERT_TRUE(set_env(name, "v1"));
  ASSERT_TRUE(set_env(name, "v2"));
  EXPECT_EQ(get_env_r(name), "v2");
  ASSERT_TRUE(set_env(name, nullptr));
  EXPECT_EQ(std::getenv(name), nullptr);
}

TEST(Environ, InvalidNames) {
  Log_Capture capture;
  EXPECT_EQ(get_env_r(nullptr), "");
  EXPECT_EQ(get_env_r(""), "");
  EXPECT_FALSE(set_env(nullptr, "x"));
  EXPECT_FALSE(set_env("", "x"));
  EXPECT_FALSE(append_env("", "x"));
  EXPECT_FALSE(prepend_env(nullptr, "x"));
  ASSERT_EQ(capture.records_.size(), 6u);
  EXPECT_EQ(capture.records_[0].priority, LM_EMERGENCY);
  EXPECT_NE(capture.records_[0].text.find("name is NULL or \"\":"), std::string::npos);
  EXPECT_FALSE(set_env("A=B", "x")) << "the C library refuses names with '='";
}

TEST(Environ, AppendAndPrepend) {
  const char* name = "ENVIRON_TEST_JOIN";
  ASSERT_TRUE(set_env(name, nullptr));
  ASSERT_TRUE(append_env(name, "A"));
  EXPECT_EQ(get_env_r(name), "A") << "no leading ':' on an unset variable";
  ASSERT_TRUE(append_env(name, "B"));
  EXPECT_EQ(get_env_r(name), "A:B");
  ASSERT_TRUE(prepend_env(name, "C"));
  EXPECT_EQ(get_env_r(name), "C:A:B");
  ASSERT_TRUE(set_env(name, ""));
  ASSERT_TRUE(prepend_env(name, "D"));
  EXPECT_EQ(get_env_r(name), "D") << "no trailing ':' on an empty variable";
  ASSERT_TRUE(append_env(name, nullptr));
  EXPECT_EQ(std::getenv(name), nullptr) << "a null value removes the variable";

  const std::string long_part(6000, 'p');
  ASSERT_TRUE(set_env(name, long_part.c_str()));
  ASSERT_TRUE(append_env(name, long_part.c_str()));
  EXPECT_EQ(get_env_r(name), long_part + ":" + long_part) << "no length limit";
  set_env(name, nullptr);
}

TEST(Environ, ConcurrentAppendsLoseNothing) {
  const char* name = "ENVIRON_TEST_CONCURRENT";
  ASSERT_TRUE(set_env(name, nullptr));
  const int threads = 4;
  const int per_thread = 50;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, name] {
      for (int i = 0; i < per_thread; ++i) {
        const std::string part = std::to_string(t) + "_" + std::to_string(i);
        if (i % 2) {
          append_env(name, part.c_str());
        } else {
          prepend_env(name, part.c_str());
        }
        get_env_r(name);
      }
    });
  }
  for (auto& w : workers) w.join();

  std::set<std::string> parts;
  std::istringstream in(get_env_r(name));
  std::string part;
  int count = 0;
  while (std::getline(in, part, ':')) {
    parts.insert(part);
    ++count;
  }
  EXPECT_EQ(count, threads * per_thread);
  EXPECT_EQ(parts.size(), static_cast<std::size_t>(threads * per_thread));
  set_env(name, nullptr);
}

TEST(Environ, LockIsOneObject) {
  EXPECT_EQ(&g_env_mutex, &env_mutex());
}
