// natoi at the edges of its types.
#include <cerrno>
#include <climits>
#include <cstdint>

#include <gtest/gtest.h>

#include "runtime/natoi.h"

TEST(Natoi, Unsigned64Bit) {
  const char* stop = nullptr;
  const char* text = "42abc";
  errno = -1;
  EXPECT_EQ((natoi<unsigned long, const char*>(text, nullptr, &stop)), 42ul);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(stop, text + 2);

  EXPECT_EQ((natoi<unsigned long, const char*>("abc")), 0ul);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ((natoi<unsigned long, const char*>("-1", nullptr, &stop)), 0ul);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ((natoi<unsigned long, const char*>("18446744073709551615")), ULONG_MAX);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ((natoi<unsigned long, const char*>("18446744073709551616")), ULONG_MAX);
  EXPECT_EQ(errno, ERANGE);
  EXPECT_EQ((natoi<unsigned long, const char*>("+7")), 7ul);
  EXPECT_EQ(errno, 0);
}

TEST(Natoi, Signed16Bit) {
  char min[] = "-32768";
  EXPECT_EQ((natoi<short, char*>(min)), -32768);
  EXPECT_EQ(errno, 0);
  char below[] = "-32769";
  EXPECT_EQ((natoi<short, char*>(below)), 32767) << "overflow gives the maximum";
  EXPECT_EQ(errno, ERANGE);
  char above[] = "32768";
  EXPECT_EQ((natoi<short, char*>(above)), 32767);
  EXPECT_EQ(errno, ERANGE);
  char blank[] = " 5";
  EXPECT_EQ((natoi<short, char*>(blank)), 0);
  EXPECT_EQ(errno, EINVAL);
  char newline[] = "60\n";
  EXPECT_EQ((natoi<short, char*>(newline)), 60);
  EXPECT_EQ(errno, 0);
  char minus_zero[] = "-0";
  EXPECT_EQ((natoi<short, char*>(minus_zero)), 0);
  EXPECT_EQ(errno, 0);
}

TEST(Natoi, EmptyAndBoundedInput) {
  const char* stop = reinterpret_cast<const char*>(1);
  EXPECT_EQ((natoi<int, const char*>(nullptr, nullptr, &stop)), 0);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(stop, nullptr);
  EXPECT_EQ((natoi<int, const char*>("")), 0);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ((natoi<int, const char*>("-")), 0);
  EXPECT_EQ(errno, EINVAL);

  const char* text = "12345";
  EXPECT_EQ((natoi<int, const char*>(text, text + 3, &stop)), 123) << "stops at end";
  EXPECT_EQ(stop, text + 3);
  EXPECT_EQ((natoi<int, const char*>(text, text)), 0);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ((natoi<int, const char*>("-2147483648")), INT_MIN);
  EXPECT_EQ((natoi<std::int64_t, const char*>("-9223372036854775808")), INT64_MIN);
  EXPECT_EQ(errno, 0);
}
