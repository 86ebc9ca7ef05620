// Lookups, system information and the log sink of the service host.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include "starter/identity.h"
#include "starter/log_sink.h"
#include "starter/system_info.h"
#include "starter/tests/child_process.h"
#include "starter/tests/log_capture.h"

namespace {

TEST(Parse_Uid_Gid, AcceptsOnlyWholeDecimalNumbersInRange) {
  EXPECT_EQ(0, parse_uid_gid("0"));
  EXPECT_EQ(1000, parse_uid_gid("1000"));
  EXPECT_EQ(4294967295LL, parse_uid_gid("4294967295"));
  EXPECT_EQ(-1, parse_uid_gid("4294967296"));
  EXPECT_EQ(-1, parse_uid_gid("-5"));
  EXPECT_EQ(-1, parse_uid_gid("1000x"));
  EXPECT_EQ(-1, parse_uid_gid("root"));
  EXPECT_EQ(-1, parse_uid_gid(""));
  EXPECT_EQ(-1, parse_uid_gid("99999999999999999999999"));
}

TEST(New_Sysconf_Buffer, UsesTheDefaultWhenSysconfHasNoAnswer) {
  size_t n = 0;
  // An unknown sysconf name yields -1, so the default count is used.
  auto buf = new_sysconf_buffer(-12345, 7, 4, n);
  ASSERT_TRUE(buf != nullptr);
  EXPECT_EQ(7u, n);
  auto pw = new_sysconf_buffer(_SC_GETPW_R_SIZE_MAX, 16384, 1, n);
  ASSERT_TRUE(pw != nullptr);
  EXPECT_GT(n, 0u);
}

TEST(New_Sysconf_Buffer, FailedAllocationReportsNoCount) {
  size_t n = 99;
  errno = 0;
  // More bytes than any process can have.
  EXPECT_EQ(nullptr, new_sysconf_buffer(-12345, LONG_MAX, 1, n));
  EXPECT_EQ(ENOMEM, errno);
  EXPECT_EQ(0u, n);
  // A count whose size in bytes overflows must not give a short buffer.
  n = 99;
  errno = 0;
  EXPECT_EQ(nullptr, new_sysconf_buffer(-12345, LONG_MAX, 8, n));
  EXPECT_EQ(ENOMEM, errno);
  EXPECT_EQ(0u, n);
}

TEST(Get_Uid_Gid, ResolvesByNameAndByNumber) {
  Log_Capture log;
  std::uint32_t uid = 7, gid = 7;
  auto name = get_uid("root", uid, &gid);
  ASSERT_TRUE(name != nullptr);
  EXPECT_EQ("root", *name);
  EXPECT_EQ(0u, uid);
  EXPECT_EQ(0u, gid);

  name = get_uid("0", uid, nullptr);
  ASSERT_TRUE(name != nullptr);
  EXPECT_EQ("root", *name);

  auto group = get_gid("0", gid);
  ASSERT_TRUE(group != nullptr);
  EXPECT_EQ(0u, gid);
  EXPECT_EQ(0, log.count("Failed"));
}

TEST(Get_Uid_Gid, UnknownEntriesLogAndLeaveIdsUnset) {
  Log_Capture log;
  std::uint32_t uid = 7, gid = 7;
  EXPECT_EQ(nullptr, get_uid("no_such_user_d2t", uid, &gid));
  EXPECT_EQ(NO_ID, uid);
  EXPECT_EQ(NO_ID, gid);
  EXPECT_EQ(nullptr, get_gid("no_such_group_d2t", gid));
  EXPECT_EQ(NO_ID, gid);
  // A number nobody has is looked up by number and fails the same way.
  EXPECT_EQ(nullptr, get_uid("3999999999", uid, nullptr));

  const auto user_entry = log.find("Failed to get no_such_user_d2t password entry, errno=2, ");
  EXPECT_EQ(LM_ERROR, user_entry.priority);
  EXPECT_EQ(1, log.count("Failed to get no_such_group_d2t group entry, errno=2, "));
  EXPECT_EQ(1, log.count("Failed to get 3999999999 password entry, errno=2, "));
}

TEST(Switch_Identity, AlreadyTheTargetIdentityChangesNothing) {
  Log_Capture log;
  Identity_Request request;
  const std::string uid = std::to_string(::getuid());
  request.user = uid.c_str();
  request.primary_group = "no_such_group_d2t";  // falls back to the user's group
  switch_identity(request);
  EXPECT_EQ(1, log.count("Failed to get no_such_group_d2t group entry"));
  EXPECT_EQ(0, log.count("Failed to set"));
  EXPECT_EQ(0, log.count("Failed to init groups"));
}

TEST(Vm_Swappiness, ParsesTheFileAndReportsFailures) {
  Temp_Dir dir;
  EXPECT_EQ(60, get_vm_swappiness(dir.write("s", "60\n").c_str()));
  EXPECT_EQ(100, get_vm_swappiness(dir.write("t", "100\n").c_str()));
  EXPECT_EQ(-1, get_vm_swappiness(dir.write("empty", "").c_str()));
  errno = 0;
  EXPECT_EQ(-1, get_vm_swappiness((dir.path() + "/missing").c_str()));
  EXPECT_EQ(ENOENT, errno);
  // A directory opens but cannot be read.
  errno = 0;
  EXPECT_EQ(-1, get_vm_swappiness(dir.path().c_str()));
  EXPECT_EQ(EISDIR, errno);
}

TEST(System_Info, UnreadableSwappinessIsLoggedAndShownAsMinusOne) {
  Log_Capture log;
  log_system_info("/no/such/swappiness");
  const auto error = log.find("Failed to get vm swappiness from /proc/sys/vm/swappiness, errno=2, ");
  EXPECT_EQ(LM_ERROR, error.priority);
  const auto info = log.find("system info: sysname=");
  EXPECT_EQ(LM_INFO, info.priority);
  EXPECT_NE(std::string::npos, info.text.find(", swappiness=-1\n"));
  EXPECT_NE(std::string::npos, info.text.find(", memory="));
}

TEST(Product_Info, BannerNamesTheComponentWhenSet) {
  Log_Capture log;
  ::unsetenv("COMPONENT");
  log_product_info();
  ::setenv("COMPONENT", "", 1);
  log_product_info();
  ::setenv("COMPONENT", "tapectl", 1);
  log_product_info();
  ::unsetenv("COMPONENT");
  const std::string plain = std::string("kestrel3 ") + product_version() + " (rev " +
                            product_revision() + ") is started.\n";
  const std::string named = std::string("kestrel3-tapectl ") + product_version() + " (rev " +
                            product_revision() + ") is started.\n";
  auto entries = log.entries();
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ(plain, entries[0].text);
  EXPECT_EQ(plain, entries[1].text);
  EXPECT_EQ(named, entries[2].text);
  EXPECT_EQ(LM_INFO, entries[2].priority);
}

TEST(Log_Config, ReadsTargetAndPriority) {
  Log_Config c = parse_log_config(nullptr, nullptr);
  EXPECT_EQ(Log_Config::TO_STDERR, c.target);
  EXPECT_EQ(LM_DEBUG, c.lowest);
  EXPECT_TRUE(c.priority_valid);

  c = parse_log_config("syslog", "WARNING");
  EXPECT_EQ(Log_Config::TO_SYSLOG, c.target);
  EXPECT_EQ(LM_WARNING, c.lowest);

  c = parse_log_config("/var/log/x.log", "loud");
  EXPECT_EQ(Log_Config::TO_FILE, c.target);
  EXPECT_EQ("/var/log/x.log", c.path);
  EXPECT_FALSE(c.priority_valid);
  EXPECT_EQ(LM_DEBUG, c.lowest);
}

TEST(Log_Config, PriorityMaskHoldsTheLowestAndEverythingMoreSevere) {
  const unsigned long mask = priority_mask_from(LM_WARNING);
  EXPECT_NE(0u, mask & LM_WARNING);
  EXPECT_NE(0u, mask & LM_ERROR);
  EXPECT_NE(0u, mask & LM_EMERGENCY);
  EXPECT_EQ(0u, mask & LM_INFO);
  EXPECT_EQ(0u, mask & LM_DEBUG);
  EXPECT_NE(0u, priority_mask_from(LM_DEBUG) & LM_INFO);
}

TEST(Log_Sink, FileGetsWholeLinesAndRestrictiveModeEvenWithUmaskZero) {
  Temp_Dir dir;
  const std::string path = dir.path() + "/host.log";
  Log_Config config = parse_log_config(path.c_str(), nullptr);
  const mode_t old_umask = ::umask(0);
  {
    Log_Sink sink(config);
    ASSERT_EQ(0, sink.open(nullptr));
    ACE_Log_Record record(LM_ERROR, ACE_Time_Value(0), 0);
    record.msg_data("no newline here");
    sink.log(record);
    record.msg_data("two\nlines\n");
    sink.log(record);
  }
  ::umask(old_umask);

  struct stat st;
  ASSERT_EQ(0, ::stat(path.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 0777);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  EXPECT_NE(std::string::npos, all.find(" ERROR ["));
  EXPECT_NE(std::string::npos, all.find("no newline here\n"));
  EXPECT_NE(std::string::npos, all.find("two\nlines\n"));
}

TEST(Log_Sink, JournalLinesCarryTheSyslogLevelOfEachLine) {
  struct stat st;
  ASSERT_EQ(0, ::fstat(STDERR_FILENO, &st));
  const std::string stream =
      std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
      std::to_string(static_cast<unsigned long long>(st.st_ino));
  ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
  Log_Sink journal(parse_log_config(nullptr, nullptr));
  journal.open(nullptr);
  ::unsetenv("JOURNAL_STREAM");
  EXPECT_EQ("<3>first\n<3>second\n", journal.format(LM_ERROR, "first\nsecond"));
  EXPECT_EQ("<6>x\n", journal.format(LM_INFO, "x\n"));

  // Another stream is not the journal: a time stamp and the priority name.
  ::setenv("JOURNAL_STREAM", "1:1", 1);
  Log_Sink terminal(parse_log_config(nullptr, nullptr));
  terminal.open(nullptr);
  ::unsetenv("JOURNAL_STREAM");
  const std::string line = terminal.format(LM_WARNING, "y\n");
  EXPECT_NE(std::string::npos, line.find(" WARNING [")) << line;
  EXPECT_EQ('y', line[line.size() - 2]);
}

Log_Sink* g_reentry_sink = nullptr;
volatile std::sig_atomic_t g_reentry_logged = 0;

// Logs like a fatal-signal handler does, once.
void log_from_signal_handler(int) {
  if (g_reentry_logged != 0) return;
  ACE_Log_Record record(LM_ALERT, ACE_Time_Value(0), 0);
  record.msg_data("logged by the signal handler");
  g_reentry_sink->log(record);
  g_reentry_logged = 1;
}

// The file size limit makes the sink's own write raise SIGXFSZ inside
// log(), with the sink's lock held; the handler then logs on that thread.
TEST(Log_Sink, SignalHandlerLoggingInsideLogDoesNotWaitForTheLock) {
  Temp_Dir dir;
  const std::string path = dir.path() + "/limited.log";
  Log_Sink sink(parse_log_config(path.c_str(), nullptr));
  ASSERT_EQ(0, sink.open(nullptr));
  g_reentry_sink = &sink;
  g_reentry_logged = 0;

  struct sigaction sa;
  struct sigaction old_sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = log_from_signal_handler;
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(0, ::sigaction(SIGXFSZ, &sa, &old_sa));
  struct rlimit old_limit;
  ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &old_limit));
  struct rlimit limit = old_limit;
  limit.rlim_cur = 16;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &limit));

  ACE_Log_Record record(LM_ERROR, ACE_Time_Value(0), 0);
  record.msg_data("a line longer than the sixteen bytes the file may hold");
  sink.log(record);

  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &old_sa, nullptr);
  EXPECT_EQ(1, g_reentry_logged);
}

TEST(Log_Sink, UnwritableFileFallsBackToStandardError) {
  Log_Config config = parse_log_config("/no/such/dir/host.log", nullptr);
  Log_Sink sink(config);
  EXPECT_EQ(-1, sink.open(nullptr));
  EXPECT_EQ("x\n", sink.format(LM_INFO, "x\n").substr(sink.format(LM_INFO, "x\n").size() - 2));
}

}  // namespace
