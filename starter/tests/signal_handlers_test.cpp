// The bodies of the host's signal handlers, run in-process (the process
// tests cover real signals).

#include "starter/signal_handlers.h"

#include <ace/ACE.h>
#include <ace/Reactor.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <csignal>
#include <cstring>

#include "starter/tests/log_capture.h"

namespace {

TEST(Signal_Handlers, Usr2TogglesDebugAndTwiceRestoresIt) {
  Log_Capture log;
  const bool before = ACE::debug();
  ACE::debug(false);
  sig_usr2(SIGUSR2);
  EXPECT_TRUE(ACE::debug());
  sig_usr2(SIGUSR2);
  EXPECT_FALSE(ACE::debug());
  ACE::debug(before);
  const auto entries = log.entries();
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ("Enable ACE::debug.\n", entries[0].text);
  EXPECT_EQ("Disable ACE::debug.\n", entries[1].text);
  EXPECT_EQ(LM_INFO, entries[0].priority);
}

TEST(Signal_Handlers, FirstTerminationEndsTheLoopAndLaterOnesOnlyLog) {
  Log_Capture log;
  ACE_Reactor* reactor = ACE_Reactor::instance();
  ASSERT_FALSE(reactor->reactor_event_loop_done());
  ASSERT_EQ(0, starter::finished);

  sig_terminate(SIGTERM, "main");
  EXPECT_EQ(1, starter::finished);
  EXPECT_TRUE(reactor->reactor_event_loop_done());
  // The loop returns at once when it is run after the signal.
  EXPECT_EQ(0, reactor->run_reactor_event_loop());

  sig_terminate(SIGINT, "worker");
  EXPECT_EQ(1, starter::finished);
  const auto entries = log.entries();
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(std::string("Signal 15 (") + ::strsignal(SIGTERM) + ") caught in [main].\n",
            entries[0].text);
  EXPECT_EQ(std::string("Signal 2 (") + ::strsignal(SIGINT) + ") caught in [worker].\n",
            entries[1].text);
  reactor->reset_reactor_event_loop();
}

TEST(Signal_Handlers, ThreadNameIsUnknownWithoutPthreadGetname) {
  char name[16];
  starter::pthread_getname = nullptr;
  get_thread_name(name);
  EXPECT_STREQ("unknown", name);

  starter::pthread_getname = reinterpret_cast<starter::pthread_getname_np_t>(
      ::dlsym(RTLD_DEFAULT, "pthread_getname_np"));
  ASSERT_NE(nullptr, starter::pthread_getname);
  ::pthread_setname_np(::pthread_self(), "a-fifteen-chars");
  get_thread_name(name);
  EXPECT_STREQ("a-fifteen-chars", name);
  starter::pthread_getname = nullptr;
}

}  // namespace
