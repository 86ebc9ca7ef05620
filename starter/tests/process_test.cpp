// The service host as a process: start-up, services, signals, reactors,
// identity and systemd notification, observed through its log output.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "starter/tests/child_process.h"

namespace {

const char BANNER[] = ") is started.";

std::string directive(const std::string& name, const std::string& args) {
  return "dynamic " + name + " Service_Object * " + built_library("d2t_demo_service") +
         ":_make_Demo_Service() \"" + args + "\"\n";
}

// A starter with a service directory, its log on the child's stderr.
class Starter_Test : public ::testing::Test {
 protected:
  std::unique_ptr<Child_Process> start(std::vector<std::string> args,
                                       std::vector<std::string> env = {}) {
    args.insert(args.begin(), built_program("starter"));
    // Defaults first: the test's own entries override them.
    env.insert(env.begin(), {"D2T_LOG_PRIORITY=debug", "-D2T_LOG_FILE", "-JOURNAL_STREAM",
                             "-NOTIFY_SOCKET", "LIBSYSTEMD_FILENAME=0"});
    return std::unique_ptr<Child_Process>(new Child_Process(args, env));
  }

  // Sends SIGTERM and expects a normal exit with status 0.
  static void stop(Child_Process& child) {
    child.signal(SIGTERM);
    const int status = child.wait_exit();
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << child.output();
    EXPECT_EQ(0, WEXITSTATUS(status)) << child.output();
  }

  Temp_Dir dir_;
};

TEST_F(Starter_Test, LoadsConfFilesInByteOrderAndFinalisesThemOnTerm) {
  const std::string services = dir_.path() + "/services";
  ASSERT_EQ(0, ::mkdir(services.c_str(), 0755));
  std::ofstream(services + "/b.conf") << directive("Demo_B", "name=B");
  std::ofstream(services + "/a.conf") << directive("Demo_A", "name=A");
  std::ofstream(services + "/c.txt") << directive("Demo_C", "name=C");
  std::ofstream(services + "/d.conf.bak") << directive("Demo_D", "name=D");

  auto child = start({"-f", services});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  const std::string out = child->output();
  const size_t a = out.find("Demo_Service(A)::init");
  const size_t b = out.find("Demo_Service(B)::init");
  ASSERT_NE(std::string::npos, a) << out;
  ASSERT_NE(std::string::npos, b) << out;
  EXPECT_LT(a, b);
  EXPECT_EQ(std::string::npos, out.find("Demo_Service(C)"));
  EXPECT_EQ(std::string::npos, out.find("Demo_Service(D)"));
  EXPECT_NE(std::string::npos, out.find("system info: sysname="));
  EXPECT_LT(out.find("Demo_Service(B)::init"), out.find("system info:"));

  stop(*child);
  const std::string end = child->output();
  EXPECT_NE(std::string::npos, end.find(std::string("Signal 15 (") + ::strsignal(SIGTERM) +
                                        ") caught in ["));
  EXPECT_EQ(1, child->count("Demo_Service(A)::fini"));
  EXPECT_EQ(1, child->count("Demo_Service(B)::fini"));
}

TEST_F(Starter_Test, SecondTermWhileStoppingOnlyLogs) {
  const std::string conf =
      dir_.write("slow.conf", directive("Demo_Slow", "name=slow fini_delay_ms=1500"));
  auto child = start({"-f", conf});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  child->signal(SIGTERM);
  ASSERT_TRUE(child->wait_for("caught in [")) << child->output();
  child->signal(SIGTERM);
  ASSERT_TRUE(child->wait_for("caught in [", 2)) << child->output();
  const int status = child->wait_exit();
  ASSERT_TRUE(WIFEXITED(status)) << child->output();
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ(1, child->count("Demo_Service(slow)::fini"));
}

TEST_F(Starter_Test, HangupReconfiguresAndUsr2TogglesDebug) {
  const std::string conf = dir_.write("demo.conf", directive("Demo", "name=R"));
  auto child = start({"-f", conf});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  EXPECT_EQ(1, child->count("Demo_Service(R)::init"));

  child->signal(SIGHUP);
  ASSERT_TRUE(child->wait_for(std::string("Signal 1 (") + ::strsignal(SIGHUP) +
                              ") caught, and reconfiguring ... \n"))
      << child->output();
  // The configuration is read again: the service is replaced.
  EXPECT_TRUE(child->wait_for("Demo_Service(R)::init", 2)) << child->output();

  child->signal(SIGUSR2);
  ASSERT_TRUE(child->wait_for("Enable ACE::debug.\n")) << child->output();
  child->signal(SIGUSR2);
  ASSERT_TRUE(child->wait_for("Disable ACE::debug.\n")) << child->output();

  // Ignored signals do not end the host.
  child->signal(SIGPIPE);
  child->signal(SIGURG);
  child->signal(SIGIO);
  child->signal(SIGUSR2);
  ASSERT_TRUE(child->wait_for("Enable ACE::debug.\n", 2)) << child->output();
  stop(*child);
}

TEST_F(Starter_Test, ThreadPoolReactorWithOneThreadFallsBackToTheDefault) {
  auto child = start({"--reactor", "tp", "--threads", "1"});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  EXPECT_EQ(1, child->count("The number of threads (1) of thread pool reactor is less than 2"));
  EXPECT_EQ(1, child->count("Failed to get reactor factory by 'tp'\n"));
  EXPECT_EQ(0, child->count("Created '"));
  stop(*child);
}

TEST_F(Starter_Test, ThreadsWithoutReactorRunOneLoopInTheMainThread) {
  auto child = start({"--threads", "8"});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  EXPECT_EQ(0, child->count("Created '"));
  EXPECT_EQ(0, child->count("Failed"));
  // The main thread and the signal relay only.
  EXPECT_EQ(2, child->thread_count());
  stop(*child);
}

TEST_F(Starter_Test, ReactorKindsAreCaseSensitive) {
  auto child = start({"--reactor", "TP", "--threads", "4"});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  EXPECT_EQ(1, child->count("Failed to get reactor factory by 'TP'\n"));
  EXPECT_EQ(0, child->count("thread pool reactor"));
  stop(*child);
}

TEST_F(Starter_Test, SelectReactorWithOneThreadRunsInTheMainThread) {
  auto child = start({"--threads", "1", "--reactor", "select"});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  EXPECT_EQ(1, child->count("Created 'select' reactor\n"));
  stop(*child);
}

TEST_F(Starter_Test, ThreadPoolReactorSpawnsTheRequestedLoopThreads) {
  auto child = start({"--threads", "2", "--reactor", "tp"});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  EXPECT_EQ(1, child->count("Created 'tp' reactor with 2 threads\n"));
  // The main thread and the signal relay, plus the two loop threads.
  bool four = false;
  for (int i = 0; i < 200 && !four; ++i) {
    four = child->thread_count() == 4;
    if (!four) usleep(50000);
  }
  EXPECT_TRUE(four) << "threads: " << child->thread_count();
  stop(*child);
}

TEST_F(Starter_Test, ServicesResolveTheProgramsExportedInstantiations) {
  const std::string conf = dir_.write("sym.conf", directive("Demo", "name=S check_symbols"));
  auto child = start({"-f", conf});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  EXPECT_EQ(4, child->count("Demo_Service(S) symbol ")) << child->output();
  EXPECT_EQ(0, child->count(" missing")) << child->output();
  stop(*child);
}

TEST_F(Starter_Test, UncaughtExceptionIsLoggedAndEndsThroughAbort) {
  const std::string conf = dir_.write("throw.conf", directive("Demo", "name=T throw"));
  auto child = start({"-f", conf});
  const int status = child->wait_exit();
  const std::string out = child->output();
  EXPECT_NE(std::string::npos, out.find("Unhandled exception is caught, demo service failure\n"))
      << out;
  EXPECT_NE(std::string::npos,
            out.find(std::string("Signal 6 (") + ::strsignal(SIGABRT) + ") caught in ["))
      << out;
  EXPECT_NE(std::string::npos, out.find("the back trace:\n")) << out;
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGABRT, WTERMSIG(status));
  EXPECT_EQ(0, child->count("Demo_Service(T)::fini"));
}

TEST_F(Starter_Test, FatalSignalLogsABackTraceAndEndsByTheSignal) {
  const std::string conf = dir_.write("demo.conf", directive("Demo", "name=F"));
  auto child = start({"-f", conf});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  child->signal(SIGSEGV);
  const int status = child->wait_exit();
  const std::string out = child->output();
  EXPECT_NE(std::string::npos,
            out.find(std::string("Signal 11 (") + ::strsignal(SIGSEGV) + ") caught in ["))
      << out;
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGSEGV, WTERMSIG(status));
  EXPECT_EQ(0, child->count("Demo_Service(F)::fini"));
}

// Runs starter detached by `flag` (--background, or the configurator's -b)
// and stops it with SIGTERM through its pid file.
void run_detached(const Temp_Dir& dir, const std::string& flag) {
  const std::string conf = dir.write("demo.conf", directive("Demo", "name=BG"));
  const std::string log = dir.path() + "/host.log";
  const std::string pid_file = dir.path() + "/host.pid";
  std::vector<std::string> args = {built_program("starter"), flag, "-p", pid_file, "-f", conf};
  Child_Process parent(args, {"D2T_LOG_FILE=" + log, "LIBSYSTEMD_FILENAME=0"});
  const int status = parent.wait_exit();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));

  // The detached host writes its pid file and its banner.
  pid_t pid = 0;
  std::string text;
  for (int i = 0; i < 400; ++i) {
    std::ifstream in(log);
    std::stringstream s;
    s << in.rdbuf();
    text = s.str();
    std::ifstream p(pid_file);
    if (text.find(BANNER) != std::string::npos && (p >> pid) && pid > 0) break;
    usleep(50000);
  }
  ASSERT_GT(pid, 0) << text;
  ASSERT_NE(std::string::npos, text.find("Demo_Service(BG)::init")) << text;
  struct stat st;
  ASSERT_EQ(0, ::stat(log.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);

  ASSERT_EQ(0, ::kill(pid, SIGTERM));
  for (int i = 0; i < 400 && ::kill(pid, 0) == 0; ++i) usleep(50000);
  EXPECT_NE(0, ::kill(pid, 0)) << "still running";
  std::ifstream in(log);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_NE(std::string::npos, s.str().find("Demo_Service(BG)::fini")) << s.str();
}

TEST_F(Starter_Test, BackgroundDetachesAndLogsToTheFileWithRestrictiveMode) {
  run_detached(dir_, "--background");
}

TEST_F(Starter_Test, ConfiguratorDaemonOptionStillStopsOnTerm) { run_detached(dir_, "-b"); }

// Identity switching needs root and the account tools; the test creates a
// user with its own primary group and one more group, and removes them.
class Identity_Test : public Starter_Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || ::access("/usr/sbin/useradd", X_OK) != 0) {
      GTEST_SKIP() << "needs root and useradd";
    }
    const std::string suffix = std::to_string(::getpid() % 100000);
    user_ = "d2tst" + suffix;
    extra_ = "d2tsg" + suffix;
    run("/usr/sbin/groupadd " + extra_);
    run("/usr/sbin/useradd -M -U -s /usr/sbin/nologin " + user_);
  }
  void TearDown() override {
    if (!user_.empty()) {
      run("/usr/sbin/userdel " + user_ + " 2>/dev/null");
      run("/usr/sbin/groupdel " + extra_ + " 2>/dev/null");
    }
  }
  static void run(const std::string& cmd) {
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << cmd;
  }
  static std::string status_line(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, key.size(), key) == 0) return line.substr(key.size());
    }
    return "";
  }
  static std::string id_of(const std::string& cmd) {
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[64] = {0};
    if (p != nullptr) {
      if (std::fgets(buf, sizeof buf, p) == nullptr) buf[0] = '\0';
      ::pclose(p);
    }
    std::string s(buf);
    while (!s.empty() && (s.back() == '\n')) s.pop_back();
    return s;
  }

  std::string user_, extra_;
};

TEST_F(Identity_Test, SwitchesUserPrimaryGroupAndAddsSupplementaryGroups) {
  const std::string uid = id_of("id -u " + user_);
  const std::string gid = id_of("id -g " + user_);
  const std::string extra = id_of("getent group " + extra_ + " | cut -d: -f3");
  ASSERT_FALSE(uid.empty());
  auto child = start({"--user", user_, "--group", extra_, "--group", "no_such_group_d2t"});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  EXPECT_EQ(0, child->count("Failed to set")) << child->output();
  EXPECT_EQ(0, child->count("Failed to init groups")) << child->output();
  EXPECT_EQ(1, child->count("Failed to get no_such_group_d2t group entry"));

  const std::string uids = status_line(child->pid(), "Uid:");
  const std::string gids = status_line(child->pid(), "Gid:");
  const std::string groups = " " + status_line(child->pid(), "Groups:") + " ";
  EXPECT_EQ("\t" + uid + "\t" + uid + "\t" + uid + "\t" + uid, uids);
  EXPECT_EQ("\t" + gid + "\t" + gid + "\t" + gid + "\t" + gid, gids);
  EXPECT_NE(std::string::npos, groups.find(extra)) << groups;
  stop(*child);
}

TEST_F(Identity_Test, PrimaryGroupOptionWinsOverTheUsersGroup) {
  const std::string extra = id_of("getent group " + extra_ + " | cut -d: -f3");
  auto child = start({"--primary-group", extra_, "--user", user_});
  ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
  EXPECT_EQ(0, child->count("Failed")) << child->output();
  EXPECT_EQ("\t" + extra + "\t" + extra + "\t" + extra + "\t" + extra,
            status_line(child->pid(), "Gid:"));
  stop(*child);
}

// Systemd notification end to end, through the stub client library.
TEST_F(Starter_Test, NotifiesReadyOnceThenFeedsTheWatchdog) {
  const std::string path = dir_.path() + "/notify";
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  struct sockaddr_un addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr));
  struct timeval tv = {5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  auto next = [fd]() {
    char buf[256];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  };

  auto child = start({"--reactor", "select"},
                     {"LIBSYSTEMD_FILENAME=" + built_library("d2t_systemd_stub"),
                      "NOTIFY_SOCKET=" + path, "WATCHDOG_USEC=300000"});
  EXPECT_EQ("READY=1\n", next());
  EXPECT_EQ("WATCHDOG=1\n", next());
  // The repeating timer sends the next ones, one interval (150 ms) apart.
  EXPECT_EQ("WATCHDOG=1\n", next());
  EXPECT_EQ("WATCHDOG=1\n", next());
  EXPECT_EQ("WATCHDOG=1\n", next());
  ASSERT_TRUE(child->wait_for("<6>Notify systemd every 150 ms.\n")) << child->output();
  stop(*child);
  ::close(fd);
}

}  // namespace

namespace {

TEST_F(Starter_Test, RunsWithoutNotificationWhenTheLibraryIsMissingOrSwitchedOff) {
  auto missing = start({}, {"LIBSYSTEMD_FILENAME=/no/such/libsystemd.so.0"});
  ASSERT_TRUE(missing->wait_for(BANNER)) << missing->output();
  EXPECT_EQ(1, missing->count("Unable to load /no/such/libsystemd.so.0, "));
  stop(*missing);

  auto off = start({}, {"LIBSYSTEMD_FILENAME=0", "WATCHDOG_USEC=300000"});
  ASSERT_TRUE(off->wait_for(BANNER)) << off->output();
  EXPECT_EQ(0, off->count("systemd"));
  EXPECT_EQ(0, off->count("libsystemd"));
  stop(*off);
}

}  // namespace
