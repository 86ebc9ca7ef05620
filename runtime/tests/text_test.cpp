// natoi at the edges of its types, string_sprintf, snprintf_t and the
// file-name tests.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "runtime/inline_util.h"
#include "runtime/natoi.h"
#include "runtime/snprintf_t.h"
#include "runtime/string_sprintf.h"

namespace {
// Parses `text` as T and returns {value, errno}.
// natoi over the whole of `text`: the value and errno it leaves.
template <typename T>
void check_natoi(const char* text, T value, int error) {
  SCOPED_TRACE(text ? text : "null");
  errno = -1;
  EXPECT_EQ((natoi<T, const char*>(text)), value);
  EXPECT_EQ(errno, error);
}

int append_f(std::string& s, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int append_f(std::string& s, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = string_vsprintf(s, fmt, args, true);
  va_end(args);
  return n;
}

}  // namespace

TEST(Natoi, EdgesOfEachTypeStopPointerAndBoundedInput) {
  check_natoi<unsigned long>("42abc", 42, 0);
  check_natoi<unsigned long>("abc", 0, EINVAL);
  check_natoi<unsigned long>("-1", 0, EINVAL);
  check_natoi<unsigned long>("+7", 7, 0);
  check_natoi<unsigned long>("18446744073709551615", ULONG_MAX, 0);
  check_natoi<unsigned long>("18446744073709551616", ULONG_MAX, ERANGE);
  check_natoi<short>("-32768", -32768, 0);
  check_natoi<short>("-32769", 32767, ERANGE);  // overflow gives the maximum
  check_natoi<short>("32768", 32767, ERANGE);
  check_natoi<short>(" 5", 0, EINVAL);
  check_natoi<short>("60\n", 60, 0);
  check_natoi<short>("-0", 0, 0);
  check_natoi<int>(nullptr, 0, EINVAL);
  check_natoi<int>("", 0, EINVAL);
  check_natoi<int>("-", 0, EINVAL);
  check_natoi<int>("-2147483648", INT_MIN, 0);
  check_natoi<std::int64_t>("-9223372036854775808", INT64_MIN, 0);

  // Where parsing stopped, and input bounded by an end.
  const char* stop = reinterpret_cast<const char*>(1);
  EXPECT_EQ((natoi<int, const char*>(nullptr, nullptr, &stop)), 0);
  EXPECT_EQ(stop, nullptr);
  const char* text = "12345abc";
  EXPECT_EQ((natoi<unsigned long, const char*>(text, nullptr, &stop)), 12345ul);
  EXPECT_EQ(stop, text + 5);
  EXPECT_EQ((natoi<int, const char*>(text, text + 3, &stop)), 123) << "stops at end";
  EXPECT_EQ(stop, text + 3);
  EXPECT_EQ((natoi<int, const char*>(text, text)), 0);
  EXPECT_EQ(errno, EINVAL);
  char writable[] = "-32768";
  EXPECT_EQ((natoi<short, char*>(writable)), -32768);
}

TEST(String_Sprintf, ResultsAroundTheFirstRoomAndAppending) {
  std::string s = "old content that is replaced";
  for (size_t n : {127, 128, 5000, 0}) {
    const std::string text(n, 'x');
    EXPECT_EQ(string_sprintf(s, "%s", text.c_str()), static_cast<int>(n));
    EXPECT_EQ(s, text);
  }
  EXPECT_EQ(string_sprintf(s, "%d-%s", 7, "a"), 3);
  EXPECT_EQ(s, "7-a");
  s = "head:";
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

// Directory listings of service configurations (starter's tests) cover
// links, directories and the usual names; these are the edges.
TEST(File_Names, Extensions) {
  const std::pair<const char*, const char*> others[] = {
      {"conf", "conf"}, {nullptr, "conf"}, {"a.conf", ""}, {"a.", ""}};
  for (const auto& o : others) EXPECT_FALSE(is_file_extension(o.first, o.second)) << o.first;
  EXPECT_EQ(find_file_extension(""), nullptr);
  const char* name = "x.y.z";
  EXPECT_EQ(find_file_extension(name), name + 3);
  EXPECT_FALSE(is_regular_file(nullptr));
}
