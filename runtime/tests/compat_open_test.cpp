// The close-on-exec open family.
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "runtime/compat_open.h"
#include "runtime/tests/temp_dir.h"

namespace {

bool cloexec(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  return flags != -1 && (flags & FD_CLOEXEC) != 0;
}

}  // namespace

TEST(Compat_Open, ProbesChooseTheDirectFormsOnThisLibrary) {
  ASSERT_NE(open_cloexec, nullptr);
  ASSERT_NE(fopen_compat, nullptr);
  ASSERT_NE(freopen_compat, nullptr);
  ASSERT_NE(fdopen_compat, nullptr);
  ASSERT_NE(popen_compat, nullptr);
  EXPECT_EQ(o_cloexec_enabled(), 1);
  EXPECT_EQ(open_cloexec, &open_cloexec_direct) << "no extra descriptor-flag calls";
  init_compat_opens();  // a second run keeps the choices
  EXPECT_EQ(open_cloexec, &open_cloexec_direct);
}

TEST(Compat_Open, EveryFormGivesCloseOnExec) {
  Temp_Dir tmp;
  const std::string path = tmp / "f";
  for (auto open_fn : {open_cloexec, &open_cloexec_direct, &open_cloexec_indirect}) {
    const int fd = open_fn(path.c_str(), O_WRONLY | O_CREAT, 0640);
    ASSERT_NE(fd, -1);
    EXPECT_TRUE(cloexec(fd));
    close(fd);
  }
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777 & ~0640, 0u) << "the mode argument was used";
  EXPECT_EQ(open_cloexec_indirect((tmp / "missing").c_str(), O_RDONLY), -1);

  for (auto fopen_fn : {fopen_compat, &fopen_indirect}) {
    FILE* f = fopen_fn(path.c_str(), "re");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(cloexec(fileno(f)));
    FILE* again = freopen_indirect(path.c_str(), "we", f);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(cloexec(fileno(again)));
    fclose(again);
  }
  FILE* plain = fopen_indirect(path.c_str(), "r");
  ASSERT_NE(plain, nullptr);
  EXPECT_FALSE(cloexec(fileno(plain))) << "no 'e', no flag";
  fclose(plain);

  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_NE(fd, -1);
  FILE* f = fdopen_indirect(fd, "re");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(cloexec(fd));
  fclose(f);

  FILE* p = popen_indirect("true", "re");
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(cloexec(fileno(p)));
  pclose(p);
}

TEST(Compat_Open, EnableFdCloexec) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_FALSE(cloexec(fds[0]));
  EXPECT_EQ(enable_fd_cloexec(fds[0]), 0);
  EXPECT_TRUE(cloexec(fds[0]));
  close(fds[0]);
  close(fds[1]);
  EXPECT_EQ(enable_fd_cloexec(fds[0]), -1);
}
