#include "starter/systemd_handler.h"

#include <ace/Reactor.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "testing/child_process.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

using namespace test_support;

namespace {

TEST(Notify_Interval, ThirdOfTheTimeoutWithFloorAndOverride) {
  struct Row {
    std::uint64_t timeout;
    const char* setting;
    std::uint64_t interval;
  };
  const Row rows[] = {{30000000, nullptr, 10000000},
                      {6000000, "", 3000000},
                      {9000000, nullptr, 3000000},
                      {30000000, "5", 5000000},
                      {1000000, "5", 5000000},
                      // Zero or text falls back to the derived interval.
                      {30000000, "0", 10000000},
                      {30000000, "soon", 10000000},
                      // Below 6 s of timeout the 3 s floor would reach the timeout itself.
                      {300000, nullptr, 150000}};
  for (const Row& r : rows) {
    EXPECT_EQ(r.interval, notify_interval_usec(r.timeout, r.setting))
        << r.timeout << " " << (r.setting ? r.setting : "unset");
  }
  // A setting too large to count in microseconds stays a long interval.
  EXPECT_GT(notify_interval_usec(30000000, "18446744073709551615"), 30000000u);
  EXPECT_GT(notify_interval_usec(30000000, "18446744073710"), 30000000u);
}

// Sets the environment a test needs and restores a clean one afterwards.
class Systemd_Handler_Test : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    for (const char* name : {"LIBSYSTEMD_FILENAME", "WATCHDOG_USEC", "WATCHDOG_PID",
                             "SD_NOTIFY_INTERVAL", "NOTIFY_SOCKET", "STUB_SD_BOOTED"}) {
      ::unsetenv(name);
    }
  }
  // Opens a handler on the stub library `lib`: the result of open().
  int open_with(const std::string& lib) {
    ::setenv("LIBSYSTEMD_FILENAME", built_library(lib.c_str()).c_str(), 1);
    return handler_.open(&reactor_);
  }

  ACE_Reactor reactor_;
  Log_Capture log_;
  Systemd_Handler handler_;
};

// No reactor, no client library, no sd_notify in it; not booted with
// systemd; the watchdog off, as the library or the environment says.
TEST_F(Systemd_Handler_Test, OpenFailsAndSaysWhy) {
  EXPECT_EQ(-1, handler_.open(nullptr));
  EXPECT_EQ(LM_EMERGENCY, log_.priority_of("r is NULL"));
  ::setenv("LIBSYSTEMD_FILENAME", "/no/such/libsystemd.so", 1);
  EXPECT_EQ(-1, handler_.open(&reactor_));
  EXPECT_EQ(LM_WARNING, log_.priority_of("Unable to load /no/such/libsystemd.so, "));
  EXPECT_EQ(-1, open_with("d2t_systemd_stub_nonotify"));
  EXPECT_EQ(LM_ERROR, log_.priority_of("Not found symbol sd_notify in " +
                                       built_library("d2t_systemd_stub_nonotify") + "!"));
  clear();
  // Not booted with systemd: silent.
  log_.clear();
  ::setenv("STUB_SD_BOOTED", "0", 1);
  ::setenv("WATCHDOG_USEC", "30000000", 1);
  EXPECT_EQ(-1, open_with("d2t_systemd_stub"));
  EXPECT_TRUE(log_.entries().empty());
  clear();
  // The library decides when it has sd_watchdog_enabled.
  EXPECT_EQ(-1, open_with("d2t_systemd_stub"));
  EXPECT_EQ(LM_WARNING, log_.priority_of("systemd watchdog is not enabled.\n"));
  // Without it, the host reads the environment itself.
  const std::string lib = built_library("d2t_systemd_stub_nowd");
  EXPECT_EQ(-1, open_with("d2t_systemd_stub_nowd"));
  EXPECT_EQ(1, log_.count("Not found symbol sd_watchdog_enabled in " + lib + "!"));
  EXPECT_EQ(1, log_.count("systemd watchdog is not enabled, WATCHDOG_USEC is unset.\n"));
  ::setenv("WATCHDOG_USEC", "soon", 1);
  EXPECT_EQ(-1, open_with("d2t_systemd_stub_nowd"));
  EXPECT_EQ(1, log_.count("systemd watchdog is not enabled, WATCHDOG_USEC=soon.\n"));
  ::setenv("WATCHDOG_USEC", "30000000", 1);
  ::setenv("WATCHDOG_PID", "1", 1);
  EXPECT_EQ(-1, open_with("d2t_systemd_stub_nowd"));
  EXPECT_EQ(1, log_.count("systemd watchdog is not enabled, WATCHDOG_PID=1.\n"));
}

TEST_F(Systemd_Handler_Test, SendsReadyAndWatchdogUntilClosed) {
  Temp_Dir dir;
  Notify_Socket socket(dir.path() + "/notify");
  ASSERT_TRUE(socket.bound());
  ::setenv("NOTIFY_SOCKET", (dir.path() + "/notify").c_str(), 1);
  ::setenv("WATCHDOG_USEC", "300000", 1);
  ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
  ASSERT_EQ(0, open_with("d2t_systemd_stub_nowd"));
  EXPECT_EQ(LM_DEBUG, log_.priority_of("Notify systemd every 150 ms.\n"));
  EXPECT_EQ("READY=1\n", socket.next());
  EXPECT_EQ("WATCHDOG=1\n", socket.next());
  EXPECT_TRUE(socket.empty());

  // The timer's repeats: the process test. Closed, the handler sends no more.
  EXPECT_EQ(0, handler_.close());
  ACE_Time_Value more(0, 400000);
  reactor_.run_reactor_event_loop(more);
  EXPECT_TRUE(socket.empty());
}

}  // namespace
