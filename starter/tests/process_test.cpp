// The service host as a process: start-up, services, signals, reactors,
// identity and systemd notification, observed through its log output.

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "testing/child_process.h"
#include "testing/temp_dir.h"

using namespace test_support;

namespace {

const char BANNER[] = ") is started.";

std::string directive(const std::string& name, const std::string& args) {
  return "dynamic " + name + " Service_Object * " + built_library("d2t_demo_service") +
         ":_make_Demo_Service() \"" + args + "\"\n";
}

std::string caught(int sig) {
  return "Signal " + std::to_string(sig) + " (" + ::strsignal(sig) + ") caught";
}

// The file at `path` once it holds `text` (or after 20 s, as it is then).
std::string wait_in_file(const std::string& path, const std::string& text) {
  std::string content = read_file(path);
  for (int i = 0; i < 400 && content.find(text) == std::string::npos; ++i) {
    usleep(50000);
    content = read_file(path);
  }
  return content;
}

// A starter with a service directory, its log on the child's stderr.
class Starter_Test : public ::testing::Test {
 protected:
  // Starts starter with `args` and waits for its banner.
  std::unique_ptr<Child_Process> start(std::vector<std::string> args,
                                       std::vector<std::string> env = {}, bool wait = true) {
    args.insert(args.begin(), built_program("starter"));
    // Defaults first: the test's own entries override them.
    env.insert(env.begin(), {"D2T_LOG_PRIORITY=debug", "-D2T_LOG_FILE", "-JOURNAL_STREAM",
                             "-NOTIFY_SOCKET", "LIBSYSTEMD_FILENAME=0"});
    std::unique_ptr<Child_Process> child(new Child_Process(args, env));
    if (wait) {
      EXPECT_TRUE(child->wait_for(BANNER)) << child->output();
    }
    return child;
  }

  // The environment that has the stub client library notify dir_/notify.
  std::vector<std::string> notify_env(const std::string& watchdog_usec) const {
    return {"LIBSYSTEMD_FILENAME=" + built_library("d2t_systemd_stub"),
            "NOTIFY_SOCKET=" + dir_.path() + "/notify", "WATCHDOG_USEC=" + watchdog_usec};
  }

  // Sends SIGTERM and expects a normal exit with status 0.
  static void stop(Child_Process& child) {
    child.signal(SIGTERM);
    EXPECT_EQ(0, child.exit_code()) << child.output();
  }

  Temp_Dir dir_{"d2t-starter"};
};

// Too few threads for a thread pool, or threads without a reactor kind:
// the default reactor runs in the main thread, next to the signal relay
// and the reload thread only. Notification switched off: not a word about
// systemd either.
TEST_F(Starter_Test, ReactorChoicesAndSignalsOnAThreadPool) {
  const std::pair<std::vector<std::string>, int> rows[] = {
      {{"--reactor", "tp", "--threads", "1"}, 1}, {{"--threads", "8"}, 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.first[0]);
    auto child = start(r.first, {"WATCHDOG_USEC=300000"});
    EXPECT_EQ(r.second, child->count("Failed to get reactor factory by 'tp'\n"));
    EXPECT_EQ(0, child->count("Created '"));
    EXPECT_EQ(0, child->count("systemd"));
    EXPECT_EQ(3, child->thread_count());
    stop(*child);
  }
  // A host whose systemd client library is missing runs on without
  // notification.
  auto child = start({"--threads", "2", "--reactor", "tp"},
                     {"LIBSYSTEMD_FILENAME=/no/such/libsystemd.so.0"});
  EXPECT_EQ(1, child->count("Created 'tp' reactor with 2 threads\n"));
  EXPECT_EQ(1, child->count("Unable to load /no/such/libsystemd.so.0, "));
  // The main thread, the signal relay and the reload thread, plus the two
  // loop threads.
  for (int i = 0; i < 200 && child->thread_count() != 5; ++i) usleep(50000);
  EXPECT_EQ(5, child->thread_count());
  child->signal(SIGUSR2);
  ASSERT_TRUE(child->wait_for("Enable ACE::debug.\n")) << child->output();
  child->signal(SIGUSR2);
  ASSERT_TRUE(child->wait_for("Disable ACE::debug.\n")) << child->output();
  // Ignored signals do not end the host.
  for (int sig : {SIGPIPE, SIGURG, SIGIO, SIGUSR2}) child->signal(sig);
  ASSERT_TRUE(child->wait_for("Enable ACE::debug.\n", 2)) << child->output();
  stop(*child);
}

TEST_F(Starter_Test, UncaughtExceptionIsLoggedAndEndsThroughAbort) {
  auto child =
      start({"-f", dir_.write("throw.conf", directive("Demo", "name=T throw"))}, {}, false);
  EXPECT_EQ(128 + SIGABRT, child->exit_code());
  EXPECT_GE(child->count("Unhandled exception is caught, demo service failure\n"), 1);
  EXPECT_GE(child->count(caught(SIGABRT) + " in ["), 1);
  EXPECT_GE(child->count("the back trace:\n"), 1) << child->output();
  EXPECT_EQ(0, child->count("Demo_Service(T)::fini"));
}

// Detached by --background, or by the configurator's -b, the host logs to
// its file and still reloads on SIGHUP and stops on SIGTERM.
TEST_F(Starter_Test, DetachedHostLogsToItsFileAndStopsOnTerm) {
  const std::string conf = dir_.write("demo.conf", directive("Demo", "name=BG"));
  for (const std::string flag : {"--background", "-b"}) {
    SCOPED_TRACE(flag);
    const std::string log = dir_.path() + "/host" + flag + ".log";
    const std::string pid_file = dir_.path() + "/host" + flag + ".pid";
    Child_Process parent({built_program("starter"), flag, "-p", pid_file, "-f", conf},
                         {"D2T_LOG_FILE=" + log, "LIBSYSTEMD_FILENAME=0"});
    EXPECT_EQ(0, parent.exit_code()) << parent.output();
    EXPECT_NE(std::string::npos, wait_in_file(log, BANNER).find("Demo_Service(BG)::init"));
    const pid_t pid = std::atoi(wait_in_file(pid_file, "\n").c_str());
    ASSERT_GT(pid, 0) << read_file(log);
    // The relay started again in the detached process: a reload works.
    ASSERT_EQ(0, ::kill(pid, SIGHUP));
    EXPECT_NE(
        std::string::npos,
        wait_in_file(log, "Reload done").find("Reload done: 1 service(s) kept, 0 replaced by 0"))
        << read_file(log);
    ASSERT_EQ(0, ::kill(pid, SIGTERM));
    for (int i = 0; i < 400 && ::kill(pid, 0) == 0; ++i) usleep(50000);
    EXPECT_NE(0, ::kill(pid, 0)) << "still running";
    EXPECT_NE(std::string::npos, read_file(log).find("Demo_Service(BG)::fini")) << read_file(log);
  }
}

// A service configuration that was given and does not load ends the host
// with status 1, the reason logged, and systemd never hears READY=1; the
// services that did load are finalised.
TEST_F(Starter_Test, BrokenServiceConfigurationExitsNonZeroWithoutReady) {
  const std::string demo = built_library("d2t_demo_service");
  const std::string good = dir_.write("good.conf", directive("Good", "name=G"));
  struct Case {
    std::vector<std::string> args;
    std::string why;
  };
  const std::vector<Case> cases = {
      {{"-f", dir_.path() + "/missing.conf"}, "Failed to read service configuration "},
      {{"-f", dir_.write("nolib.conf",
                         "dynamic NoLib Service_Object * /no/such/libx.so:_make_X() \"\"\n")},
       "library /no/such/libx.so does not load"},
      {{"-f", dir_.write("nofactory.conf",
                         "dynamic NoFactory Service_Object * " + demo + ":_make_Nothing() \"\"\n")},
       "factory _make_Nothing not found in "},
      {{"-f", dir_.write("failinit.conf", directive("Failing", "name=F fail_init"))},
       "service Failing: its factory returned no object or its init failed"},
      {{"-S", "dynamic NoLib2 Service_Object * /no/such/liby.so:_make_Y() \"\""},
       "library /no/such/liby.so does not load"},
  };
  Notify_Socket socket(dir_.path() + "/notify");
  ASSERT_TRUE(socket.bound());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::string> args = {"-f", good};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto child = start(args, notify_env("300000"), false);
    EXPECT_EQ(1, child->exit_code()) << child->output();
    EXPECT_EQ(1, child->count(c.why)) << child->output();
    EXPECT_EQ(1, child->count("1 service configuration(s) failed to load; exiting with status 1"))
        << child->output();
    EXPECT_EQ(1, child->count("Demo_Service(G)::fini")) << child->output();
    EXPECT_EQ(0, child->count(BANNER));
    EXPECT_TRUE(socket.empty()) << "a notification was sent";
  }
  // The identity switch fails closed: a user or group that does not exist
  // ends the start with status 1 before any service loads (which of the
  // names fails: host_test).
  auto child = start({"--group", "no_such_name_d2t", "-f", good}, {}, false);
  EXPECT_EQ(1, child->exit_code()) << child->output();
  EXPECT_EQ(1,
            child->count("Failed to run as the requested user and groups; exiting with status 1"))
      << child->output();
  EXPECT_EQ(0, child->count("Demo_Service(G)::init"));
}

// Services of a directory load in the byte order of their file names and
// resolve the program's exported instantiations. A reload keeps the
// services whose directive (and the files it names) did not change,
// replaces the first changed one and every one after it (new ones loaded
// before the old ones go, the last loaded retired first), and a reload
// that fails changes nothing: the old services run on until a later good
// reload. Systemd hears each reload begin and how it ended. SIGTERM
// finalises every service.
TEST_F(Starter_Test, ReloadKeepsUnchangedServicesAndAFailedReloadChangesNothing) {
  const std::string services = dir_.path() + "/services";
  ASSERT_EQ(0, ::mkdir(services.c_str(), 0755));
  const std::string a_conf = dir_.write("a.json", "1");
  std::ofstream(services + "/20-b.conf") << directive("Demo_B", "name=B");
  std::ofstream(services + "/10-a.conf") << directive("Demo_A", "name=A check_symbols " + a_conf);
  std::ofstream(services + "/30-c.conf") << directive("Demo_C", "name=C");
  Notify_Socket socket(dir_.path() + "/notify");
  ASSERT_TRUE(socket.bound());
  // A watchdog interval of 20 s: no WATCHDOG=1 comes between the others.
  auto child = start({"-f", services}, notify_env("60000000"));
  EXPECT_EQ("READY=1\n", socket.next());
  EXPECT_EQ("WATCHDOG=1\n", socket.next());
  std::string out = child->output();
  EXPECT_LT(out.find("Demo_Service(A)::init"), out.find("Demo_Service(B)::init")) << out;
  EXPECT_LT(out.find("Demo_Service(B)::init"), out.find("Demo_Service(C)::init")) << out;
  EXPECT_LT(out.find("Demo_Service(C)::init"), out.find("system info: sysname=")) << out;
  EXPECT_EQ(4, child->count("Demo_Service(A) symbol ")) << out;
  EXPECT_EQ(0, child->count(" missing")) << out;
  // SIGHUP, and what systemd hears of the reload.
  const std::string done = "Reload succeeded",
                    failed = "Reload failed; the services run on unchanged";
  auto hangup = [&](const std::string& outcome) {
    child->signal(SIGHUP);
    EXPECT_EQ(0u, socket.next().find("RELOADING=1\nMONOTONIC_USEC="));
    EXPECT_EQ("READY=1\nSTATUS=" + outcome + "\n", socket.next());
  };

  hangup(done);
  ASSERT_TRUE(child->wait_for(caught(SIGHUP) + ", and reconfiguring ... \n")) << child->output();
  // Read again and found unchanged: the services stay.
  ASSERT_TRUE(child->wait_for("Reload done: 3 service(s) kept, 0 replaced by 0"))
      << child->output();
  EXPECT_EQ(0, child->count("::fini"));

  // B's directive changes: B and C (loaded after it) are replaced.
  std::ofstream(services + "/20-b.conf") << directive("Demo_B", "name=B v=2");
  hangup(done);
  ASSERT_TRUE(child->wait_for("Reload done: 1 service(s) kept, 2 replaced by 2"))
      << child->output();
  ASSERT_TRUE(child->wait_for("Demo_Service(B)::fini")) << child->output();
  out = child->output();
  EXPECT_LT(out.rfind("Demo_Service(C)::init"), out.find("Demo_Service(C)::fini"))
      << "the new service runs before the old one goes";
  EXPECT_LT(out.find("Demo_Service(C)::fini"), out.find("Demo_Service(B)::fini"));
  EXPECT_EQ(1, child->count("Demo_Service(A)::init"));

  // A file its directive names changes: A and all after it are replaced.
  std::ofstream(a_conf) << "2";
  hangup(done);
  ASSERT_TRUE(child->wait_for("Reload done: 0 service(s) kept, 3 replaced by 3"))
      << child->output();

  // Failures: a service whose init fails, a file that cannot be read.
  // Nothing is finalised, and the services run.
  ASSERT_TRUE(child->wait_for("Demo_Service(A)::fini")) << child->output();
  const int finis = child->count("::fini");
  std::ofstream(services + "/20-b.conf") << directive("Demo_B", "name=B2 fail_init");
  hangup(failed);
  ASSERT_TRUE(child->wait_for("Reload failed: 1 service configuration(s) failed to load"))
      << child->output();
  // The new C loaded before B's failure showed is retired; the old B and C
  // were never finalised.
  ASSERT_TRUE(child->wait_for("Demo_Service(C)::fini", 3)) << child->output();
  EXPECT_EQ(finis + 1, child->count("::fini")) << child->output();
  ASSERT_EQ(0, ::chmod((services + "/30-c.conf").c_str(), 0));
  if (::geteuid() != 0) {
    hangup(failed);
    ASSERT_TRUE(child->wait_for("Reload failed: 1 service configuration(s) cannot be read"))
        << child->output();
  }
  ASSERT_EQ(0, ::chmod((services + "/30-c.conf").c_str(), 0644));
  EXPECT_EQ(finis + 1, child->count("::fini")) << child->output();

  std::ofstream(services + "/20-b.conf") << directive("Demo_B", "name=B v=3");
  hangup(done);
  ASSERT_TRUE(child->wait_for("Reload done: 1 service(s) kept, 2 replaced by 2", 2))
      << child->output();
  stop(*child);
  EXPECT_GE(child->count(caught(SIGTERM) + " in ["), 1) << child->output();
  EXPECT_EQ(child->count("::init"), child->count("::fini") + 1) << "B2's init failed";
}

// SIGHUP is honoured only between start-up and shutdown, and systemd hears
// READY=1 once start-up is done, then the watchdog timer on the chosen
// reactor. SIGTERM ends the host at once behind any number of SIGHUPs,
// which coalesce; a second SIGTERM while stopping only logs.
TEST_F(Starter_Test, HangupIsIgnoredDuringStartUpAndShutdownAndNeverHoldsOffTerm) {
  {
    Notify_Socket socket(dir_.path() + "/notify");
    ASSERT_TRUE(socket.bound());
    auto child =
        start({"--reactor", "select", "-f",
               dir_.write("slow_init.conf", directive("SlowInit", "name=SI init_delay_ms=1500"))},
              notify_env("300000"), false);
    // The handlers are installed before the services load.
    ASSERT_TRUE(child->wait_for("Loading 1 service configuration source(s)")) << child->output();
    child->signal(SIGHUP);
    ASSERT_TRUE(child->wait_for(BANNER)) << child->output();
    EXPECT_EQ(1, child->count(caught(SIGHUP) + " during start-up: ignored")) << child->output();
    EXPECT_EQ(1, child->count("Demo_Service(SI)::init"));
    EXPECT_EQ("READY=1\n", socket.next());
    // The repeating timer sends the next ones, one interval (150 ms) apart.
    for (int i = 0; i < 4; ++i) EXPECT_EQ("WATCHDOG=1\n", socket.next()) << i;
    ASSERT_TRUE(child->wait_for("<6>Notify systemd every 150 ms.\n")) << child->output();
    EXPECT_EQ(1, child->count("Created 'select' reactor\n"));
    stop(*child);
  }
  // A reload that replaces the service takes over half a second (init
  // waits); six SIGHUPs make at most two reloads, and SIGTERM still ends
  // the host. Stopping takes over a second (fini waits): a SIGHUP then is
  // ignored.
  const std::string conf = dir_.write(
      "slow_both.conf", directive("Slow", "name=S fini_delay_ms=1200 init_delay_ms=600"));
  auto child = start({"-f", conf});
  dir_.write("slow_both.conf", directive("Slow", "name=S fini_delay_ms=1200 init_delay_ms=601"));
  for (int i = 0; i < 6; ++i) child->signal(SIGHUP);
  ASSERT_TRUE(child->wait_for("Replacing service Slow")) << child->output();
  child->signal(SIGTERM);
  ASSERT_TRUE(child->wait_for(caught(SIGTERM))) << child->output();
  child->signal(SIGHUP);
  ASSERT_TRUE(child->wait_for(caught(SIGHUP) + " during shutdown: ignored")) << child->output();
  child->signal(SIGTERM);  // a second stop only logs
  ASSERT_TRUE(child->wait_for(caught(SIGTERM) + " in [", 2)) << child->output();
  EXPECT_EQ(0, child->exit_code()) << child->output();
  EXPECT_LE(child->count("Demo_Service(S)::init"), 3) << child->output();
  EXPECT_EQ(child->count("Demo_Service(S)::init"), child->count("Demo_Service(S)::fini"));
}

// Identity switching needs root and the account tools; the test creates a
// user with its own primary group and one more group, and removes them.
class Identity_Test : public Starter_Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || ::access("/usr/sbin/useradd", X_OK) != 0) {
      GTEST_SKIP() << "needs root and useradd";
    }
    ASSERT_EQ(0, ::chmod(dir_.path().c_str(), 0755));  // for the account switched to
    const std::string suffix = std::to_string(::getpid() % 100000);
    user_ = "d2tst" + suffix;
    extra_ = "d2tsg" + suffix;
    ASSERT_EQ(0, std::system(("/usr/sbin/groupadd " + extra_).c_str()));
    ASSERT_EQ(0, std::system(("/usr/sbin/useradd -M -U -s /usr/sbin/nologin " + user_).c_str()));
  }
  void TearDown() override {
    if (user_.empty()) return;
    EXPECT_EQ(0, std::system(("/usr/sbin/userdel " + user_ + " 2>/dev/null").c_str()));
    EXPECT_EQ(0, std::system(("/usr/sbin/groupdel " + extra_ + " 2>/dev/null").c_str()));
  }
  // An id as /proc/PID/status shows it: real, effective, saved, file system.
  static std::string four(unsigned id) {
    const std::string t = "\t" + std::to_string(id);
    return t + t + t + t;
  }
  static std::string status_line(pid_t pid, const std::string& key) {
    std::istringstream in(read_file("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, key.size(), key) == 0) return line.substr(key.size());
    }
    return "";
  }

  std::string user_, extra_;
};

// The log file is opened by root in a directory the service user cannot
// enter; the configurator's reopen after the switch keeps it, so the
// services load and log there.
TEST_F(Identity_Test, SwitchesUserAndGroupsAndKeepsTheLogFileOpenedAsRoot) {
  const struct passwd* pw = ::getpwnam(user_.c_str());
  const struct group* gr = ::getgrnam(extra_.c_str());
  ASSERT_TRUE(pw != nullptr && gr != nullptr);
  const unsigned uid = pw->pw_uid, gid = pw->pw_gid, extra = gr->gr_gid;
  const std::string logs = dir_.path() + "/logs";
  ASSERT_EQ(0, ::mkdir(logs.c_str(), 0700));
  const std::string log = logs + "/host.log";
  {
    Child_Process child({built_program("starter"), "--user", user_, "--group", extra_, "-f",
                         dir_.write("demo.conf", directive("Demo", "name=U"))},
                        {"D2T_LOG_FILE=" + log, "LIBSYSTEMD_FILENAME=0", "-JOURNAL_STREAM"});
    const std::string text = wait_in_file(log, BANNER);
    EXPECT_NE(std::string::npos, text.find("Demo_Service(U)::init")) << text;
    EXPECT_EQ(std::string::npos, text.find("Failed")) << text;
    EXPECT_EQ(four(uid), status_line(child.pid(), "Uid:"));
    EXPECT_EQ(four(gid), status_line(child.pid(), "Gid:"));
    const std::string groups = status_line(child.pid(), "Groups:");
    EXPECT_NE(std::string::npos, groups.find(std::to_string(extra))) << groups;
    child.signal(SIGTERM);
    EXPECT_EQ(0, child.exit_code()) << child.output();
    EXPECT_NE(std::string::npos, read_file(log).find("Demo_Service(U)::fini")) << read_file(log);
  }
  // The primary group option wins over the user's own group.
  auto child = start({"--primary-group", extra_, "--user", user_});
  EXPECT_EQ(0, child->count("Failed")) << child->output();
  EXPECT_EQ(four(extra), status_line(child->pid(), "Gid:"));
  stop(*child);
}

}  // namespace
