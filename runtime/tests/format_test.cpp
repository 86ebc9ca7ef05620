// string_sprintf, snprintf_t, file-name tests and the memory size.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "runtime/inline_util.h"
#include "runtime/snprintf_t.h"
#include "runtime/string_sprintf.h"
#include "runtime/sysconf_helper.h"

namespace {

int append_f(std::string& s, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int append_f(std::string& s, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = string_vsprintf(s, fmt, args, true);
  va_end(args);
  return n;
}

}  // namespace

TEST(String_Sprintf, ResultsAroundTheFirstRoom) {
  std::string s = "old content that is replaced";
  const std::string s127(127, 'x');
  EXPECT_EQ(string_sprintf(s, "%s", s127.c_str()), 127);
  EXPECT_EQ(s, s127);
  const std::string s128(128, 'y');
  EXPECT_EQ(string_sprintf(s, "%s", s128.c_str()), 128);
  EXPECT_EQ(s, s128);
  const std::string s5000(5000, 'z');
  EXPECT_EQ(string_sprintf(s, "%s", s5000.c_str()), 5000);
  EXPECT_EQ(s, s5000);
  EXPECT_EQ(string_sprintf(s, "%d-%s", 7, "a"), 3);
  EXPECT_EQ(s, "7-a");
  EXPECT_EQ(string_sprintf(s, "%s", ""), 0);
  EXPECT_TRUE(s.empty());
}

TEST(String_Sprintf, AppendKeepsEarlierContent) {
  std::string s = "head:";
  const std::string tail(300, 't');
  EXPECT_EQ(append_f(s, "%s|%d", tail.c_str(), 42), 5 + 300 + 3);
  EXPECT_EQ(s, "head:" + tail + "|42");
}

TEST(Snprintf_T, InlineAndHeapResults) {
  snprintf_t<4096> small("%s=%d", "n", 5);
  EXPECT_EQ(small.length(), 3);
  EXPECT_STREQ(small.c_str(), "n=5");

  const std::string big(10000, 'b');
  snprintf_t<4096> s("%s", big.c_str());
  EXPECT_EQ(s.length(), 10000);
  EXPECT_EQ(std::string(s.c_str()), big);
  EXPECT_EQ(s.set("%s%s", big.c_str(), big.c_str()), 20000) << "the heap buffer grows again";
  EXPECT_EQ(std::string(s.data()), big + big);
  EXPECT_EQ(s.set("short"), 5);
  EXPECT_STREQ(s.c_str(), "short");

  snprintf_t<8> edge;
  EXPECT_EQ(edge.set("%s", "1234567"), 7) << "fills the inline buffer exactly";
  EXPECT_STREQ(edge.c_str(), "1234567");
  EXPECT_EQ(edge.set("%s", "12345678"), 8);
  EXPECT_STREQ(edge.c_str(), "12345678");
}

// A wide character the "C" locale cannot convert makes the C library's
// formatter fail; neither formatter may leave a partial text behind.
TEST(Formatting, ErrorsLeaveNoPartialText) {
  const wchar_t* unconvertible = L"caf\u00e9";

  std::string s = "previous";
  EXPECT_LT(string_sprintf(s, "%ls", unconvertible), 0);
  EXPECT_TRUE(s.empty());
  s = "head:";
  EXPECT_LT(append_f(s, "%s%ls", "x", unconvertible), 0);
  EXPECT_EQ(s, "head:") << "appending restores the earlier content";

  snprintf_t<4096> failed("%ls", unconvertible);
  EXPECT_EQ(failed.length(), -1) << "a constructed text reports the failure";
  EXPECT_STREQ(failed.c_str(), "");

  const std::string big(5000, 'h');
  snprintf_t<16> heap("%s", big.c_str());
  ASSERT_EQ(heap.length(), 5000);
  EXPECT_EQ(heap.set("%ls", unconvertible), -1);
  EXPECT_EQ(heap.length(), -1);
  EXPECT_STREQ(heap.c_str(), "") << "the heap buffer holds no stale text";
}

TEST(File_Names, Extensions) {
  EXPECT_TRUE(is_file_extension("a.conf", "conf"));
  EXPECT_TRUE(is_file_extension(".conf", "conf"));
  EXPECT_FALSE(is_file_extension("a.CONF", "conf"));
  EXPECT_FALSE(is_file_extension("a.conf.bak", "conf"));
  EXPECT_FALSE(is_file_extension("conf", "conf"));
  EXPECT_FALSE(is_file_extension(nullptr, "conf"));
  EXPECT_FALSE(is_file_extension("a.conf", ""));
  EXPECT_FALSE(is_file_extension("a.", ""));
  EXPECT_EQ(find_file_extension(""), nullptr);
  const char* name = "x.y.z";
  EXPECT_EQ(find_file_extension(name), name + 3);
}

TEST(File_Names, RegularFiles) {
  char dir[] = "/tmp/runtime_files_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/f.conf";
  const std::string link = std::string(dir) + "/l.conf";
  std::ofstream(file) << "x";
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  EXPECT_TRUE(is_regular_file(file.c_str()));
  EXPECT_TRUE(is_regular_file(link.c_str())) << "links are followed";
  EXPECT_FALSE(is_regular_file(dir));
  EXPECT_FALSE(is_regular_file((std::string(dir) + "/none").c_str()));
  EXPECT_FALSE(is_regular_file(nullptr));
  unlink(link.c_str());
  unlink(file.c_str());
  rmdir(dir);
}

TEST(System_Memory, PagesTimesPageSize) {
  const std::uint64_t expected = static_cast<std::uint64_t>(sysconf(_SC_PHYS_PAGES)) *
                                 static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  EXPECT_GT(get_system_memory(), 0u);
  EXPECT_EQ(get_system_memory(), expected);
}
