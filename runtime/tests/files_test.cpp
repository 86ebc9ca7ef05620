// mkdir_p, longest_exist_dirname, Path_Conf and the close-on-exec open
// family.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/compat_open.h"
#include "runtime/environ.h"
#include "runtime/mkdir_p.h"
#include "runtime/path_conf.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

using namespace test_support;

namespace {
bool is_dir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool cloexec(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  return flags != -1 && (flags & FD_CLOEXEC) != 0;
}

// Whether stream `f` was opened with FD_CLOEXEC (-1: not opened); closes it.
int stream_cloexec(FILE* f, int (*close_stream)(FILE*) = fclose) {
  if (f == nullptr) return -1;
  const bool on = cloexec(fileno(f));
  close_stream(f);
  return on ? 1 : 0;
}

}  // namespace

// Every missing parent is made, each shown to the callback, which can stop
// the creation.
TEST(Mkdir_P, CreatesEveryMissingParentNarrowOrWide) {
  Temp_Dir tmp;
  std::vector<std::string> seen;
  bool go_on = true;
  auto record = [&](const char* p) {
    seen.push_back(p);
    return go_on;
  };
  EXPECT_EQ(mkdir_p((tmp / "a/b/c").c_str(), 0750, record), 0);
  EXPECT_EQ(seen, (std::vector<std::string>{tmp / "a", tmp / "a/b", tmp / "a/b/c"}));
  EXPECT_TRUE(is_dir(tmp / "a/b/c"));
  struct stat st;
  ASSERT_EQ(::stat((tmp / "a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777 & ~0750, 0u) << "mode applied (under the umask)";
  EXPECT_EQ(mkdir_p((tmp / "a/b/c").c_str(), 0750), 0) << "an existing directory is fine";
  EXPECT_EQ(mkdir_p((tmp / "x//y/").c_str(), 0750), 0);
  EXPECT_TRUE(is_dir(tmp / "x/y"));
  const std::string narrow = tmp / "w/v";
  EXPECT_EQ(mkdir_p(std::wstring(narrow.begin(), narrow.end()).c_str(), 0750), 0);
  EXPECT_TRUE(is_dir(narrow));

  seen.clear();
  go_on = false;
  EXPECT_EQ(mkdir_p((tmp / "s/t/u").c_str(), 0750, record), 0);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_TRUE(is_dir(tmp / "s"));
  EXPECT_FALSE(is_dir(tmp / "s/t"));
}

TEST(Mkdir_P, Failures) {
  Temp_Dir tmp;
  std::ofstream(tmp / "file") << "x";
  const std::pair<std::string, int> rows[] = {
      {tmp / "file/sub", ENOTDIR}, {tmp / "file", ENOTDIR}, {"", EINVAL}};
  for (const auto& r : rows) {
    errno = 0;
    EXPECT_EQ(mkdir_p(r.first.c_str(), 0750), -1) << r.first;
    EXPECT_EQ(errno, r.second) << r.first;
  }
  EXPECT_EQ(mkdir_p(static_cast<const char*>(nullptr), 0750), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(mkdir_p(L"", 0750), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST(Longest_Exist_Dirname, Boundaries) {
  Temp_Dir tmp;
  ASSERT_EQ(mkdir_p((tmp / "x").c_str(), 0750), 0);
  std::ofstream(tmp / "file") << "x";
  struct Row {
    std::string path, want;
    int error;
  };
  const Row rows[] = {{"/no/such/dir", "/", 0},
                      {tmp / "x/y/z", tmp / "x", 0},
                      {tmp / "x", tmp / "x", 0},
                      {tmp / "x/", tmp / "x", 0},
                      {"///", "/", 0},
                      {"no_such_relative_dir/y", "", ENOENT},
                      {tmp / "file/y", "", ENOTDIR}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    ACE_stat st;
    errno = 0;
    char* got = longest_exist_dirname(r.path.c_str(), &st);
    EXPECT_EQ(got ? std::string(got) : "", r.want);
    EXPECT_EQ(errno, r.error);
    struct stat want_st;
    if (got && ::stat(got, &want_st) == 0) {
      EXPECT_EQ(st.st_ino, want_st.st_ino) << "status of the directory returned";
    }
    std::free(got);
  }
  EXPECT_EQ(longest_exist_dirname(tmp.path().c_str(), nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
}

TEST(Path_Conf, JoinsExpandsAndSubstitutes) {
  EXPECT_EQ(Path_Conf("/a/b", false, "c.conf", 0750).str(), "/a/b/c.conf");
  EXPECT_EQ(Path_Conf("/a/b", "x", false, "c.conf", 0750).str(), "/a/b/x/c.conf");
  EXPECT_EQ(Path_Conf("/a/b", "", false, "c.conf", 0750).str(), "/a/b/c.conf");
  EXPECT_EQ(Path_Conf("/a/b", static_cast<const char*>(nullptr), false).str(), "/a/b");
  EXPECT_EQ(Path_Conf("/a/b", false, "", 0750).str(), "/a/b");
  Path_Conf p("/a", false, nullptr, 0750);
  p.append("").append(static_cast<const char*>(nullptr)).append("b").append(std::string("c"));
  EXPECT_EQ(p.str(), "/a/b/c");

  ASSERT_TRUE(set_env("PATH_CONF_TEST_COMPONENT", "tapemgr"));
  EXPECT_EQ(Path_Conf("/etc/opt/quillon/kestrel3/$PATH_CONF_TEST_COMPONENT/media_controller.conf",
                      false, nullptr, 0750)
                .str(),
            "/etc/opt/quillon/kestrel3/tapemgr/media_controller.conf");
  EXPECT_TRUE(set_env("PATH_CONF_TEST_COMPONENT", nullptr));
  EXPECT_EQ(Path_Conf("/e/$PATH_CONF_TEST_COMPONENT", false).str(), "/e/$PATH_CONF_TEST_COMPONENT")
      << "an unset variable's reference is left as written";

  Path_Conf f("/x/@/y/@@", false);
  EXPECT_EQ(f.fix("@", "ab").str(), "/x/ab/y/abab");
  EXPECT_EQ(f.fix("zz", "q").str(), "/x/ab/y/abab");
  EXPECT_EQ(f.fix("abab", "a").str(), "/x/ab/y/a");

  // An empty or missing prefix gives an empty path, logged.
  Log_Capture capture;
  EXPECT_EQ(Path_Conf("", false, "c.conf", 0750).str(), "");
  EXPECT_EQ(Path_Conf(nullptr, false, "c.conf", 0750).str(), "");
  EXPECT_EQ(Path_Conf("", "x", false, "c.conf", 0750).str(), "");
  EXPECT_EQ(capture.count("prefix is NULL or \"\":"), 3);
  EXPECT_EQ(capture.priority_of("prefix is NULL"), LM_EMERGENCY);
}

TEST(Path_Conf, CreatesTheWholeExpandedPrefix) {
  Temp_Dir tmp;
  const std::string prefix = tmp / "conf/dir";
  EXPECT_EQ(Path_Conf(prefix.c_str(), true, "f.conf", 0750).str(), prefix + "/f.conf");
  EXPECT_TRUE(is_dir(prefix));
  EXPECT_NE(::access((prefix + "/f.conf").c_str(), F_OK), 0) << "the basename is not created";
  EXPECT_EQ(Path_Conf(prefix.c_str(), true).str(), prefix) << "existing directory is fine";

  const std::string under_file = prefix + "/f.conf";
  fclose(fopen(under_file.c_str(), "w"));
  Log_Capture capture;
  EXPECT_EQ(Path_Conf(under_file.c_str(), "sub", true).str(), under_file + "/sub")
      << "a creation failure is logged and the path still built";
  EXPECT_EQ(capture.priority_of("Failed to mkdir " + under_file + "/sub, errno=20, "), LM_ERROR);
}

TEST(Compat_Open, EveryFormGivesCloseOnExec) {
  EXPECT_EQ(open_cloexec, &open_cloexec_direct) << "this C library takes O_CLOEXEC directly";
  Temp_Dir tmp;
  const std::string path = tmp / "f";
  for (auto open_fn : {&open_cloexec_direct, &open_cloexec_indirect}) {
    const int fd = open_fn(path.c_str(), O_WRONLY | O_CREAT, 0640);
    ASSERT_NE(fd, -1);
    EXPECT_TRUE(cloexec(fd));
    close(fd);
  }
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777 & ~0640, 0u) << "the mode argument was used";
  EXPECT_EQ(open_cloexec_indirect((tmp / "missing").c_str(), O_RDONLY), -1);

  EXPECT_EQ(stream_cloexec(fopen_compat(path.c_str(), "re")), 1);
  EXPECT_EQ(stream_cloexec(fopen_indirect(path.c_str(), "re")), 1);
  EXPECT_EQ(stream_cloexec(freopen_indirect(path.c_str(), "we", fopen(path.c_str(), "r"))), 1);
  EXPECT_EQ(stream_cloexec(fdopen_indirect(open(path.c_str(), O_RDONLY), "re")), 1);
  EXPECT_EQ(stream_cloexec(popen_indirect("true", "re"), pclose), 1);
  EXPECT_EQ(stream_cloexec(fopen_indirect(path.c_str(), "r")), 0) << "no 'e', no flag";

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_EQ(enable_fd_cloexec(fds[0]), 0);
  EXPECT_TRUE(cloexec(fds[0]));
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(enable_fd_cloexec(fds[0]), -1);
}
