// Process-wide services: the environment accessors (alone and from
// concurrent threads) and reactor kinds by name.
#include <ace/Dev_Poll_Reactor.h>
#include <ace/Priority_Reactor.h>
#include <ace/Reactor.h>
#include <ace/Select_Reactor.h>
#include <ace/TP_Reactor.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/environ.h"
#include "runtime/make_reactor.h"
#include "testing/log_capture.h"

using test_support::Log_Capture;

TEST(Environ, SetAppendPrependRemoveAndInvalidNames) {
  const char* name = "ENVIRON_TEST_JOIN";
  ASSERT_TRUE(set_env(name, nullptr)) << "removing an unset variable succeeds";
  EXPECT_EQ(get_env_r(name), "");
  ASSERT_TRUE(set_env(name, ""));
  EXPECT_NE(std::getenv(name), nullptr) << "an empty value is still set";
  ASSERT_TRUE(set_env(name, nullptr));
  ASSERT_TRUE(append_env(name, "A"));
  EXPECT_EQ(get_env_r(name), "A") << "no leading ':' on an unset variable";
  ASSERT_TRUE(append_env(name, "B"));
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
  EXPECT_EQ(&g_env_mutex, &env_mutex()) << "one lock, whatever the order of static set-up";

  // A missing or empty name is refused, and logged.
  Log_Capture capture;
  EXPECT_EQ(get_env_r(nullptr), "");
  EXPECT_EQ(get_env_r(""), "");
  EXPECT_FALSE(set_env(nullptr, "x"));
  EXPECT_FALSE(set_env("", "x"));
  EXPECT_FALSE(append_env("", "x"));
  EXPECT_FALSE(prepend_env(nullptr, "x"));
  EXPECT_EQ(capture.count("name is NULL or \"\":"), 6);
  EXPECT_EQ(capture.priority_of("name is NULL"), LM_EMERGENCY);
  EXPECT_FALSE(set_env("A=B", "x")) << "the C library refuses names with '='";
}

TEST(Environ, ConcurrentAppendsLoseNothing) {
  const char* name = "ENVIRON_TEST_CONCURRENT";
  ASSERT_TRUE(set_env(name, nullptr));
  const int threads = 4, per_thread = 50;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, name] {
      for (int i = 0; i < per_thread; ++i) {
        const std::string part = std::to_string(t) + "_" + std::to_string(i);
        i % 2 ? append_env(name, part.c_str()) : prepend_env(name, part.c_str());
        get_env_r(name);
      }
    });
  }
  for (auto& w : workers) w.join();

  std::set<std::string> parts;
  std::istringstream in(get_env_r(name));
  int count = 0;
  for (std::string part; std::getline(in, part, ':'); ++count) parts.insert(part);
  EXPECT_EQ(count, threads * per_thread);
  EXPECT_EQ(parts.size(), static_cast<std::size_t>(threads * per_thread));
  set_env(name, nullptr);
}

namespace {

template <typename T>
bool makes(const char* kind, std::uint64_t threads) {
  Make_Reactor_Fn maker = get_reactor_factory(kind, threads);
  if (maker == nullptr) return false;
  std::unique_ptr<ACE_Reactor> reactor(maker());
  return reactor && dynamic_cast<T*>(reactor->implementation()) != nullptr;
}

}  // namespace

TEST(Make_Reactor, EachKindCreatesItsImplementationOthersNone) {
  EXPECT_TRUE(makes<ACE_Priority_Reactor>("priority", 0));
  EXPECT_TRUE(makes<ACE_TP_Reactor>("tp", 2));
  EXPECT_TRUE(makes<ACE_TP_Reactor>("tp", 64));
  EXPECT_TRUE(makes<ACE_Dev_Poll_Reactor>("dev_poll", 0));
  EXPECT_TRUE(makes<ACE_Select_Reactor>("select", 0));
  EXPECT_FALSE(makes<ACE_Priority_Reactor>("select", 1)) << "a plain select reactor";

  // Unknown kinds are silent; a thread pool needs two threads.
  Log_Capture capture;
  for (const char* kind : {"TP", "Select", "", "poll", "tp ", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(get_reactor_factory(kind, 4), nullptr) << (kind ? kind : "null");
  }
  EXPECT_TRUE(capture.entries().empty());
  EXPECT_EQ(get_reactor_factory("tp", 0), nullptr);
  EXPECT_EQ(get_reactor_factory("tp", 1), nullptr);
  EXPECT_EQ(capture.count("of thread pool reactor is less than 2"), 2);
  EXPECT_EQ(capture.priority_of("The number of threads (1) of thread pool reactor is less than 2"),
            LM_ERROR);
}
