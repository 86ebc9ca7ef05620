#include "websvcs/framework/query_string.h"

#include <gtest/gtest.h>

namespace {

TEST(Percent_Decode, DecodesEscapesAndPlus) {
  std::string out;
  ASSERT_TRUE(percent_decode("a%20b+c%2Fd%2f", out, true));
  EXPECT_EQ("a b c/d/", out);
  ASSERT_TRUE(percent_decode("a+b", out, false));
  EXPECT_EQ("a+b", out);
  ASSERT_TRUE(percent_decode("%2B", out, true));
  EXPECT_EQ("+", out);  // an escaped plus stays a plus
  ASSERT_TRUE(percent_decode("", out, true));
  EXPECT_EQ("", out);
  ASSERT_TRUE(percent_decode("%C3%A9", out, true));
  EXPECT_EQ("\xC3\xA9", out);
}

TEST(Percent_Decode, RefusesBadEscapes) {
  std::string out;
  EXPECT_FALSE(percent_decode("%zz", out, true));
  EXPECT_FALSE(percent_decode("%4", out, true));   // truncated
  EXPECT_FALSE(percent_decode("abc%", out, true));  // truncated at the end
  EXPECT_FALSE(percent_decode("%g0", out, true));
  EXPECT_FALSE(percent_decode("a%00b", out, true));  // NUL would cut C strings
}

TEST(Parse_Query_String, SplitsNamesAndValues) {
  std::map<std::string, std::string> q;
  ASSERT_TRUE(parse_query_string("serial_number=S%201&flag&&x=a=b&empty=", q));
  EXPECT_EQ("S 1", q["serial_number"]);
  EXPECT_EQ("", q["flag"]);
  EXPECT_EQ("a=b", q["x"]);  // only the first '=' separates
  EXPECT_EQ("", q["empty"]);
  EXPECT_EQ(4u, q.size());
}

TEST(Parse_Query_String, FirstOfRepeatedNameWins) {
  std::map<std::string, std::string> q;
  ASSERT_TRUE(parse_query_string("serial_number=A&serial_number=B", q));
  EXPECT_EQ("A", q["serial_number"]);
}

TEST(Parse_Query_String, RefusesUndecodablePieces) {
  std::map<std::string, std::string> q;
  std::string bad;
  EXPECT_FALSE(parse_query_string("a=1&b=%zz", q, &bad));
  EXPECT_EQ("b=%zz", bad);
  q.clear();
  EXPECT_FALSE(parse_query_string("=value", q));  // empty name
  q.clear();
  EXPECT_FALSE(parse_query_string("a%=1", q));
  q.clear();
  EXPECT_TRUE(parse_query_string("", q));
  EXPECT_TRUE(q.empty());
}

}  // namespace
