#include "starter/systemd_handler.h"

#include <ace/Reactor.h>
#include <ace/Select_Reactor.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "starter/tests/child_process.h"
#include "starter/tests/log_capture.h"

namespace {

TEST(Notify_Interval, ThirdOfTheTimeoutWithFloorAndOverride) {
  EXPECT_EQ(10000000u, notify_interval_usec(30000000, nullptr));
  EXPECT_EQ(3000000u, notify_interval_usec(6000000, ""));
  EXPECT_EQ(3000000u, notify_interval_usec(9000000, nullptr));
  EXPECT_EQ(5000000u, notify_interval_usec(30000000, "5"));
  EXPECT_EQ(5000000u, notify_interval_usec(1000000, "5"));
  // Zero or text falls back to the derived interval.
  EXPECT_EQ(10000000u, notify_interval_usec(30000000, "0"));
  EXPECT_EQ(10000000u, notify_interval_usec(30000000, "soon"));
  // A setting too large to count in microseconds stays a long interval.
  EXPECT_GT(notify_interval_usec(30000000, "18446744073709551615"), 30000000u);
  EXPECT_GT(notify_interval_usec(30000000, "18446744073710"), 30000000u);
  // Below 6 s of timeout the 3 s floor would reach the timeout itself.
  EXPECT_EQ(2000000u, notify_interval_usec(4000000, nullptr));
  EXPECT_EQ(150000u, notify_interval_usec(300000, nullptr));
  EXPECT_LT(notify_interval_usec(3000000, nullptr), 3000000u);
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

  ACE_Reactor reactor_;
};

TEST_F(Systemd_Handler_Test, NoReactorIsAProgrammingError) {
  Log_Capture log;
  Systemd_Handler handler;
  EXPECT_EQ(-1, handler.open(nullptr));
  EXPECT_EQ(LM_EMERGENCY, log.find("r is NULL").priority);
}

TEST_F(Systemd_Handler_Test, ZeroSwitchesNotificationOffSilently) {
  Log_Capture log;
  ::setenv("LIBSYSTEMD_FILENAME", "0", 1);
  Systemd_Handler handler;
  EXPECT_EQ(-1, handler.open(&reactor_));
  EXPECT_TRUE(log.entries().empty());
}

TEST_F(Systemd_Handler_Test, MissingLibraryIsAWarning) {
  Log_Capture log;
  ::setenv("LIBSYSTEMD_FILENAME", "/no/such/libsystemd.so", 1);
  Systemd_Handler handler;
  EXPECT_EQ(-1, handler.open(&reactor_));
  EXPECT_EQ(LM_WARNING, log.find("Unable to load /no/such/libsystemd.so, ").priority);
  EXPECT_EQ(nullptr, handler.reactor());
}

TEST_F(Systemd_Handler_Test, LibraryWithoutSdNotifyFails) {
  Log_Capture log;
  const std::string lib = built_library("d2t_systemd_stub_nonotify");
  ::setenv("LIBSYSTEMD_FILENAME", lib.c_str(), 1);
  Systemd_Handler handler;
  EXPECT_EQ(-1, handler.open(&reactor_));
  EXPECT_EQ(LM_ERROR, log.find("Not found symbol sd_notify in " + lib + "!").priority);
}

TEST_F(Systemd_Handler_Test, NotBootedWithSystemdIsSilent) {
  Log_Capture log;
  ::setenv("LIBSYSTEMD_FILENAME", built_library("d2t_systemd_stub").c_str(), 1);
  ::setenv("STUB_SD_BOOTED", "0", 1);
  ::setenv("WATCHDOG_USEC", "30000000", 1);
  Systemd_Handler handler;
  EXPECT_EQ(-1, handler.open(&reactor_));
  EXPECT_TRUE(log.entries().empty());
}

TEST_F(Systemd_Handler_Test, LibraryDecidesWhetherTheWatchdogIsOn) {
  Log_Capture log;
  ::setenv("LIBSYSTEMD_FILENAME", built_library("d2t_systemd_stub").c_str(), 1);
  Systemd_Handler handler;
  EXPECT_EQ(-1, handler.open(&reactor_));
  EXPECT_EQ(LM_WARNING, log.find("systemd watchdog is not enabled.\n").priority);
}

TEST_F(Systemd_Handler_Test, WithoutSdWatchdogEnabledTheEnvironmentIsChecked) {
  Log_Capture log;
  const std::string lib = built_library("d2t_systemd_stub_nowd");
  ::setenv("LIBSYSTEMD_FILENAME", lib.c_str(), 1);
  Systemd_Handler handler;
  EXPECT_EQ(-1, handler.open(&reactor_));
  EXPECT_EQ(1, log.count("Not found symbol sd_watchdog_enabled in " + lib + "!"));
  EXPECT_EQ(1, log.count("systemd watchdog is not enabled, WATCHDOG_USEC is unset.\n"));

  ::setenv("WATCHDOG_USEC", "soon", 1);
  EXPECT_EQ(-1, handler.open(&reactor_));
  EXPECT_EQ(1, log.count("systemd watchdog is not enabled, WATCHDOG_USEC=soon.\n"));

  ::setenv("WATCHDOG_USEC", "30000000", 1);
  ::setenv("WATCHDOG_PID", "1", 1);
  EXPECT_EQ(-1, handler.open(&reactor_));
  EXPECT_EQ(1, log.count("systemd watchdog is not enabled, WATCHDOG_PID=1.\n"));
  EXPECT_EQ(-1, handler.notify_timer_id());
}

// A bound datagram socket standing in for systemd's notification socket.
class Notify_Socket {
 public:
  explicit Notify_Socket(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    bound_ = ::bind(fd_, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0;
    struct timeval tv = {10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Notify_Socket() { ::close(fd_); }
  bool bound() const { return bound_; }
  // The next datagram, or "" after the receive timeout.
  std::string next() {
    char buf[256];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }
  bool empty() {
    char buf[256];
    return ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT) < 0;
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

TEST_F(Systemd_Handler_Test, SendsReadyOnceThenWatchdogFromTheTimer) {
  Temp_Dir dir;
  Notify_Socket socket(dir.path() + "/notify");
  ASSERT_TRUE(socket.bound());
  ::setenv("NOTIFY_SOCKET", (dir.path() + "/notify").c_str(), 1);
  ::setenv("LIBSYSTEMD_FILENAME", built_library("d2t_systemd_stub_nowd").c_str(), 1);
  ::setenv("WATCHDOG_USEC", "300000", 1);
  ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);

  Log_Capture log;
  Systemd_Handler handler;
  ASSERT_EQ(0, handler.open(&reactor_));
  EXPECT_NE(-1, handler.notify_timer_id());
  EXPECT_EQ(&reactor_, handler.reactor());
  EXPECT_EQ(LM_DEBUG, log.find("Notify systemd every 150 ms.\n").priority);
  EXPECT_EQ("READY=1\n", socket.next());
  EXPECT_EQ("WATCHDOG=1\n", socket.next());
  EXPECT_TRUE(socket.empty());

  // The timer keeps the watchdog fed.
  ACE_Time_Value run(0, 500000);
  reactor_.run_reactor_event_loop(run);
  EXPECT_EQ("WATCHDOG=1\n", socket.next());

  EXPECT_EQ(0, handler.close());
  EXPECT_EQ(nullptr, handler.reactor());
  EXPECT_EQ(-1, handler.notify_timer_id());
  while (!socket.empty()) {
  }
  ACE_Time_Value more(0, 400000);
  reactor_.run_reactor_event_loop(more);
  EXPECT_TRUE(socket.empty());
}

}  // namespace
