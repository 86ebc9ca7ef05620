// Reactor kinds by name and the thread rule of the thread-pool kind.
#include <memory>
#include <string>
#include <vector>

#include <ace/Dev_Poll_Reactor.h>
#include <ace/Priority_Reactor.h>
#include <ace/Reactor.h>
#include <ace/Select_Reactor.h>
#include <ace/TP_Reactor.h>
#include <gtest/gtest.h>

#include "runtime/make_reactor.h"
#include "runtime/tests/log_capture.h"

namespace {

template <typename T>
bool makes(const char* kind, std::uint64_t threads) {
  Make_Reactor_Fn maker = get_reactor_factory(kind, threads);
  if (maker == nullptr) return false;
  std::unique_ptr<ACE_Reactor> reactor(maker());
  return reactor && dynamic_cast<T*>(reactor->implementation()) != nullptr;
}

}  // namespace

TEST(Make_Reactor, EachKindCreatesItsImplementation) {
  EXPECT_TRUE(makes<ACE_Priority_Reactor>("priority", 0));
  EXPECT_TRUE(makes<ACE_TP_Reactor>("tp", 2));
  EXPECT_TRUE(makes<ACE_Dev_Poll_Reactor>("dev_poll", 0));
  EXPECT_TRUE(makes<ACE_Select_Reactor>("select", 1));
  EXPECT_FALSE(makes<ACE_Priority_Reactor>("select", 1)) << "a plain select reactor";
}

TEST(Make_Reactor, UnknownKindsGiveNoFactorySilently) {
  Log_Capture capture;
  for (const char* kind : {"TP", "Select", "", "poll", "tp "}) {
    EXPECT_EQ(get_reactor_factory(kind, 4), nullptr) << kind;
  }
  EXPECT_EQ(get_reactor_factory(nullptr, 4), nullptr);
  EXPECT_TRUE(capture.records_.empty());
}

TEST(Make_Reactor, ThreadPoolNeedsTwoThreads) {
  Log_Capture capture;
  EXPECT_EQ(get_reactor_factory("tp", 0), nullptr);
  EXPECT_EQ(get_reactor_factory("tp", 1), nullptr);
  ASSERT_EQ(capture.records_.size(), 2u);
  EXPECT_EQ(capture.records_[1].priority, LM_ERROR);
  EXPECT_EQ(capture.records_[1].text,
            "The number of threads (1) of thread pool reactor is less than 2");
  EXPECT_NE(get_reactor_factory("tp", 2), nullptr);
  EXPECT_NE(get_reactor_factory("tp", 64), nullptr);
  for (const char* kind : {"select", "priority", "dev_poll"}) {
    EXPECT_NE(get_reactor_factory(kind, 0), nullptr) << kind;
  }
}

TEST(Make_Reactor, TableLookup) {
  EXPECT_STREQ(get_key_value_entry(make_reactor_table, "dev_poll").key, "dev_poll");
  EXPECT_EQ(get_key_value_entry(make_reactor_table, "nope").key, nullptr);
  EXPECT_EQ(get_key_value_entry(make_reactor_table, nullptr).value, nullptr);
}
