// Lookups, system information and the log sink of the service host.

#include <ace/Log_Record.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <tuple>

#include "starter/identity.h"
#include "starter/log_sink.h"
#include "starter/system_info.h"
#include "testing/child_process.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

using namespace test_support;

namespace {

TEST(Identity, ParseUidGidAcceptsOnlyWholeDecimalNumbersInRange) {
  const std::pair<const char*, long long> rows[] = {
      {"0", 0},           {"1000", 1000}, {"4294967295", 4294967295LL},
      {"4294967296", -1}, {"-5", -1},     {"1000x", -1},
      {"root", -1},       {"", -1},       {"99999999999999999999999", -1}};
  for (const auto& r : rows) EXPECT_EQ(r.second, parse_uid_gid(r.first)) << r.first;
}

TEST(Identity, SysconfBufferDefaultsAndRefusesOverflow) {
  size_t n = 0;
  // An unknown sysconf name yields -1, so the default count is used.
  EXPECT_NE(nullptr, new_sysconf_buffer(-12345, 7, 4, n));
  EXPECT_EQ(7u, n);
  EXPECT_NE(nullptr, new_sysconf_buffer(_SC_GETPW_R_SIZE_MAX, 16384, 1, n));
  EXPECT_GT(n, 0u);
  // More bytes than any process can have, and a count whose size in bytes
  // overflows: no buffer (never a short one) and no count.
  for (size_t item : {1, 8}) {
    n = 99;
    errno = 0;
    EXPECT_EQ(nullptr, new_sysconf_buffer(-12345, LONG_MAX, item, n));
    EXPECT_EQ(ENOMEM, errno);
    EXPECT_EQ(0u, n);
  }
}

TEST(Identity, LookupsByNameAndNumber) {
  Log_Capture log;
  auto text = [](const std::unique_ptr<std::string>& name) { return name ? *name : "(none)"; };
  std::uint32_t uid = 7, gid = 7;
  EXPECT_EQ("root", text(get_uid("root", uid, &gid)));
  EXPECT_EQ(std::make_pair(0u, 0u), std::make_pair(uid, gid));
  EXPECT_EQ("root", text(get_uid("0", uid, nullptr)));
  EXPECT_EQ("root", text(get_gid("0", gid)));
  EXPECT_EQ(0u, gid);
  EXPECT_EQ(0, log.count("Failed"));

  // Unknown entries log and leave the ids unset (names: the switch below);
  // a number nobody has is looked up by number and fails the same way.
  EXPECT_EQ(nullptr, get_uid("3999999999", uid, &gid));
  EXPECT_EQ(NO_ID, uid);
  EXPECT_EQ(NO_ID, gid);
  EXPECT_EQ(LM_ERROR, log.priority_of("Failed to get 3999999999 password entry, errno=2, "));
}

// Already the target identity: nothing to change, success. A name that
// does not resolve fails closed before anything changes.
TEST(Identity, AlreadyTheTargetIdentityChangesNothingAndUnknownNamesFail) {
  Log_Capture log;
  Identity_Request request;
  const std::string uid = std::to_string(::getuid());
  request.user = uid.c_str();
  EXPECT_TRUE(switch_identity(request));
  // An unknown primary group, user, or group.
  Identity_Request bad[] = {request, request, request};
  bad[0].primary_group = "no_such_group_d2t";
  bad[1].user = "no_such_user_d2t";
  bad[2].groups.push_back("no_such_group_d2t");
  for (const Identity_Request& r : bad) EXPECT_FALSE(switch_identity(r)) << &r - bad;
  EXPECT_EQ(2, log.count("Failed to get no_such_group_d2t group entry"));
  EXPECT_EQ(1, log.count("Failed to get no_such_user_d2t password entry"));
  EXPECT_EQ(0, log.count("Failed to set"));
  EXPECT_EQ(0, log.count("Failed to init groups"));
  EXPECT_EQ(uid, std::to_string(::getuid()));
}

TEST(System_Info, SwappinessAndItsFailures) {
  Temp_Dir dir;
  EXPECT_EQ(60, get_vm_swappiness(dir.write("s", "60\n").c_str()));
  EXPECT_EQ(-1, get_vm_swappiness(dir.write("empty", "").c_str()));
  errno = 0;
  EXPECT_EQ(-1, get_vm_swappiness((dir.path() + "/missing").c_str()));
  EXPECT_EQ(ENOENT, errno);
  errno = 0;
  EXPECT_EQ(-1, get_vm_swappiness(dir.path().c_str())) << "a directory opens but cannot be read";
  EXPECT_EQ(EISDIR, errno);

  Log_Capture log;
  log_system_info("/no/such/swappiness");
  EXPECT_EQ(LM_ERROR,
            log.priority_of("Failed to get vm swappiness from /proc/sys/vm/swappiness, errno=2, "));
  EXPECT_EQ(LM_INFO, log.priority_of("system info: sysname="));
  EXPECT_EQ(1, log.count(", swappiness=-1\n"));
  EXPECT_EQ(1, log.count(", memory="));
}

TEST(System_Info, BannerNamesTheComponentWhenSet) {
  const std::string rest =
      std::string(" ") + product_version() + " (rev " + product_revision() + ") is started.\n";
  const std::pair<const char*, std::string> rows[] = {
      {nullptr, "kestrel3"}, {"", "kestrel3"}, {"tapectl", "kestrel3-tapectl"}};
  for (const auto& r : rows) {
    Log_Capture log;
    r.first ? ::setenv("COMPONENT", r.first, 1) : ::unsetenv("COMPONENT");
    log_product_info();
    ::unsetenv("COMPONENT");
    ASSERT_EQ(1u, log.entries().size());
    EXPECT_EQ(r.second + rest, log.entries()[0].text);
    EXPECT_EQ(LM_INFO, log.entries()[0].priority);
  }
}

// Hands `text` to `sink` as one record of priority `p`.
void log_record(Log_Sink& sink, const char* text, ACE_Log_Priority p = LM_ERROR) {
  ACE_Log_Record record(p, ACE_Time_Value(0), 0);
  record.msg_data(text);
  sink.log(record);
}

TEST(Log_Config, TargetPriorityAndMask) {
  // file, priority: target, lowest priority, priority understood.
  const std::tuple<const char*, const char*, Log_Config::Target, ACE_Log_Priority, bool> rows[] = {
      std::make_tuple(nullptr, nullptr, Log_Config::TO_STDERR, LM_DEBUG, true),
      std::make_tuple("syslog", "WARNING", Log_Config::TO_SYSLOG, LM_WARNING, true),
      std::make_tuple("/var/log/x.log", "loud", Log_Config::TO_FILE, LM_DEBUG, false)};
  for (const auto& r : rows) {
    const Log_Config c = parse_log_config(std::get<0>(r), std::get<1>(r));
    EXPECT_EQ(std::make_tuple(std::get<2>(r), std::get<3>(r), std::get<4>(r)),
              std::make_tuple(c.target, c.lowest, c.priority_valid));
  }
  EXPECT_EQ("/var/log/x.log", parse_log_config("/var/log/x.log", nullptr).path);

  const unsigned long mask = priority_mask_from(LM_WARNING);
  for (ACE_Log_Priority p : {LM_WARNING, LM_ERROR, LM_EMERGENCY}) EXPECT_NE(0u, mask & p) << p;
  EXPECT_EQ(0u, mask & (LM_INFO | LM_DEBUG));
  EXPECT_NE(0u, priority_mask_from(LM_DEBUG) & LM_INFO);
}

TEST(Log_Sink, FileGetsWholeLinesAndRestrictiveModeEvenWithUmaskZero) {
  Temp_Dir dir;
  const std::string path = dir.path() + "/host.log";
  const mode_t old_umask = ::umask(0);
  {
    Log_Sink sink(parse_log_config(path.c_str(), nullptr));
    ASSERT_EQ(0, sink.open(nullptr));
    log_record(sink, "no newline here");
    log_record(sink, "two\nlines\n");
  }
  ::umask(old_umask);
  struct stat st;
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
  const std::string text = read_file(path);
  EXPECT_NE(std::string::npos, text.find(" ERROR ["));
  EXPECT_NE(std::string::npos, text.find("no newline here\n"));
  // Each line of a record carries its own head.
  EXPECT_NE(std::string::npos, text.find("] two\n")) << text;
  EXPECT_NE(std::string::npos, text.find("] lines\n")) << text;

  // The configurator stops when the back end's open fails, so a file that
  // cannot be opened is a fallback to standard error, kept for the report.
  Log_Sink unwritable(parse_log_config("/no/such/dir/host.log", nullptr));
  EXPECT_EQ(0, unwritable.open(nullptr));
  EXPECT_EQ(ENOENT, unwritable.take_open_error());
  EXPECT_EQ(0, unwritable.take_open_error()) << "reported once";
  const std::string line = unwritable.format(LM_INFO, "x\n");
  EXPECT_EQ("x\n", line.substr(line.size() - 2));

  // A symbolic link is refused, whatever it points at; its target is never
  // written.
  const std::string target = dir.write("target", "");
  const std::string link = dir.path() + "/link.log";
  ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));
  Log_Sink linked(parse_log_config(link.c_str(), nullptr));
  EXPECT_EQ(0, linked.open(nullptr));
  EXPECT_EQ(ELOOP, linked.take_open_error());
  log_record(linked, "must not reach the target\n");
  struct stat target_st;
  ASSERT_EQ(0, ::stat(target.c_str(), &target_st));
  EXPECT_EQ(0, target_st.st_size);
}

// A second open (the configurator's, after the switch to the service user)
// keeps the file open; the file moved away and the directory made
// unusable, a reset keeps writing to the file still open.
TEST(Log_Sink, ReopenKeepsTheOpenFileWhenItCannotBeOpenedAgain) {
  Temp_Dir dir;
  const std::string sub = dir.path() + "/logs";
  ASSERT_EQ(0, ::mkdir(sub.c_str(), 0700));
  const std::string path = sub + "/host.log";
  Log_Sink sink(parse_log_config(path.c_str(), nullptr));
  ASSERT_EQ(0, sink.open(nullptr));
  ASSERT_EQ(0, ::rename(sub.c_str(), (dir.path() + "/moved").c_str()));
  EXPECT_EQ(0, sink.open(nullptr));
  EXPECT_EQ(0, sink.reset());
  EXPECT_EQ(ENOENT, sink.take_open_error());
  log_record(sink, "still in the first file");
  const std::string text = read_file(dir.path() + "/moved/host.log");
  EXPECT_NE(std::string::npos, text.find("still in the first file")) << text;
}

// Each line carries the syslog level when standard error is the journal.
// Another stream gets a time stamp, the priority name and the ids of the
// process and thread: the head of a line is kept per thread between lines,
// and must still name the thread's own process and thread after a fork.
TEST(Log_Sink, LineHeadsForTheJournalAndAfterAFork) {
  struct stat st;
  ASSERT_EQ(0, ::fstat(STDERR_FILENO, &st));
  const std::string stream = std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
                             std::to_string(static_cast<unsigned long long>(st.st_ino));
  ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
  Log_Sink journal(parse_log_config(nullptr, nullptr));
  journal.open(nullptr);
  EXPECT_EQ("<3>first\n<3>second\n", journal.format(LM_ERROR, "first\nsecond"));
  EXPECT_EQ("<6>x\n", journal.format(LM_INFO, "x\n"));

  ::setenv("JOURNAL_STREAM", "1:1", 1);
  Log_Sink sink(parse_log_config(nullptr, nullptr));
  sink.open(nullptr);
  ::unsetenv("JOURNAL_STREAM");
  const std::string ids = "[" + std::to_string(::getpid()) + ":";
  const std::string parent = sink.format(LM_INFO, "parent");
  EXPECT_NE(std::string::npos, parent.find(" INFO " + ids)) << parent;
  EXPECT_EQ("parent\n", parent.substr(parent.size() - 7));
  std::string reused = "left over";
  sink.format_into(reused, LM_ERROR, "");
  EXPECT_EQ(std::string::npos, reused.find("left over")) << reused;
  EXPECT_EQ('\n', reused.back());

  int pipe_fds[2];
  ASSERT_EQ(0, ::pipe(pipe_fds));
  const pid_t child = ::fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    const std::string line = sink.format(LM_INFO, "child");
    const std::string own = " INFO [" + std::to_string(::getpid()) + ":";
    const char verdict = line.find(own) != std::string::npos ? 'y' : 'n';
    (void)!::write(pipe_fds[1], &verdict, 1);
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  char verdict = 0;
  EXPECT_EQ(1, ::read(pipe_fds[0], &verdict, 1));
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ('y', verdict) << "the child's lines name the parent process";
}

Log_Sink* g_reentry_sink = nullptr;
volatile std::sig_atomic_t g_reentry_logged = 0;

// Logs like a fatal-signal handler does, once.
void log_from_signal_handler(int) {
  if (g_reentry_logged != 0) return;
  log_record(*g_reentry_sink, "logged by the signal handler", LM_ALERT);
  g_reentry_logged = 1;
}

// The file size limit makes the sink's own write raise SIGXFSZ inside
// log(), with the sink's lock held; the handler then logs on that thread.
TEST(Log_Sink, SignalHandlerLoggingInsideLogDoesNotWaitForTheLock) {
  Temp_Dir dir;
  Log_Sink sink(parse_log_config((dir.path() + "/limited.log").c_str(), nullptr));
  ASSERT_EQ(0, sink.open(nullptr));
  g_reentry_sink = &sink;
  g_reentry_logged = 0;
  struct sigaction sa, old_sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = log_from_signal_handler;
  ASSERT_EQ(0, ::sigaction(SIGXFSZ, &sa, &old_sa));
  struct rlimit old_limit;
  ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &old_limit));
  struct rlimit limit = old_limit;
  limit.rlim_cur = 16;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &limit));

  log_record(sink, "a line longer than the sixteen bytes the file may hold");
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &old_sa, nullptr);
  EXPECT_EQ(1, g_reentry_logged);
}

}  // namespace
