// mkdir_p and longest_exist_dirname.
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "runtime/mkdir_p.h"
#include "runtime/tests/temp_dir.h"

namespace {

bool is_dir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// longest_exist_dirname as a std::string; "" for none.
std::string longest(const std::string& path, ACE_stat* st, int* error) {
  char* r = longest_exist_dirname(path.c_str(), st);
  *error = errno;
  std::string out = r ? r : "";
  std::free(r);
  return out;
}

}  // namespace

TEST(Mkdir_P, CreatesEveryMissingParent) {
  Temp_Dir tmp;
  EXPECT_EQ(mkdir_p((tmp / "a/b/c").c_str(), 0750), 0);
  EXPECT_TRUE(is_dir(tmp / "a/b/c"));
  struct stat st;
  ASSERT_EQ(::stat((tmp / "a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777 & ~0750, 0u) << "mode applied (under the umask)";
  EXPECT_EQ(mkdir_p((tmp / "a/b/c").c_str(), 0750), 0) << "an existing directory is fine";
  EXPECT_EQ(mkdir_p((tmp / "x//y/").c_str(), 0750), 0);
  EXPECT_TRUE(is_dir(tmp / "x/y"));
}

TEST(Mkdir_P, Failures) {
  Temp_Dir tmp;
  std::ofstream(tmp / "file") << "x";
  errno = 0;
  EXPECT_EQ(mkdir_p((tmp / "file/sub").c_str(), 0750), -1);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_EQ(mkdir_p((tmp / "file").c_str(), 0750), -1);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_EQ(mkdir_p(static_cast<const char*>(nullptr), 0750), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(mkdir_p("", 0750), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST(Mkdir_P, CallbackSeesCreatedDirectoriesAndCanStop) {
  Temp_Dir tmp;
  std::vector<std::string> seen;
  auto record = [&](const char* p) {
    seen.push_back(p);
    return true;
  };
  EXPECT_EQ(mkdir_p((tmp / "a/b").c_str(), 0750, record), 0);
  EXPECT_EQ(seen, (std::vector<std::string>{tmp / "a", tmp / "a/b"}));

  seen.clear();
  auto stop = [&](const char* p) {
    seen.push_back(p);
    return false;
  };
  EXPECT_EQ(mkdir_p((tmp / "s/t/u").c_str(), 0750, stop), 0);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_TRUE(is_dir(tmp / "s"));
  EXPECT_FALSE(is_dir(tmp / "s/t"));
}

TEST(Mkdir_P, WideCharacters) {
  Temp_Dir tmp;
  const std::string narrow = tmp / "w/v";
  const std::wstring wide(narrow.begin(), narrow.end());
  EXPECT_EQ(mkdir_p(wide.c_str(), 0750), 0);
  EXPECT_TRUE(is_dir(narrow));
  EXPECT_EQ(mkdir_p(L"", 0750), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST(Longest_Exist_Dirname, Boundaries) {
  Temp_Dir tmp;
  ASSERT_EQ(mkdir_p((tmp / "x").c_str(), 0750), 0);
  std::ofstream(tmp / "file") << "x";
  ACE_stat st;
  int error = 0;

  EXPECT_EQ(longest("/no/such/dir", &st, &error), "/");
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));

  EXPECT_EQ(longest(tmp / "x/y/z", &st, &error), tmp / "x");
  EXPECT_EQ(error, 0);
  struct stat x_st;
  ASSERT_EQ(::stat((tmp / "x").c_str(), &x_st), 0);
  EXPECT_EQ(st.st_ino, x_st.st_ino) << "status of the directory returned";

  EXPECT_EQ(longest(tmp / "x", &st, &error), tmp / "x");
  EXPECT_EQ(longest(tmp / "x/", &st, &error), tmp / "x");
  EXPECT_EQ(longest("///", &st, &error), "/");

  EXPECT_EQ(longest("no_such_relative_dir/y", &st, &error), "");
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(longest(tmp / "file/y", &st, &error), "");
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_EQ(longest(tmp.path(), nullptr, &error), "");
  EXPECT_EQ(error, EINVAL);
}
