#include "websvcs/framework/query_string.h"

#include <gtest/gtest.h>

namespace {

TEST(Percent_Decode, DecodesOrRefuses) {
  struct Row {
    const char* in;
    bool plus_is_space;
    bool ok;
    const char* out;
  };
  const std::vector<Row> rows = {
      {"a%20b+c%2Fd%2f", true, true, "a b c/d/"},
      {"a+b", false, true, "a+b"},
      {"%2B", true, true, "+"},  // an escaped plus stays a plus
      {"", true, true, ""},
      {"%C3%A9", true, true, "\xC3\xA9"},
      {"%zz", true, false, nullptr},
      {"%4", true, false, nullptr},    // truncated
      {"abc%", true, false, nullptr},  // truncated at the end
      {"%g0", true, false, nullptr},
      {"a%00b", true, false, nullptr},  // NUL would cut C strings
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.in);
    std::string out;
    ASSERT_EQ(r.ok, percent_decode(r.in, out, r.plus_is_space));
    if (r.ok) {
      EXPECT_EQ(r.out, out);
    }
  }
}

TEST(Parse_Query_String, SplitsNamesAndValuesOrRefuses) {
  std::map<std::string, std::string> q;
  ASSERT_TRUE(parse_query_string("serial_number=S%201&flag&&x=a=b&empty=&serial_number=B", q));
  const std::map<std::string, std::string> want = {
      {"serial_number", "S 1"},  // the first of a repeated name wins
      {"flag", ""},
      {"x", "a=b"},  // only the first '=' separates
      {"empty", ""}};
  EXPECT_EQ(want, q);
  q.clear();
  EXPECT_TRUE(parse_query_string("", q));
  EXPECT_TRUE(q.empty());
  // Undecodable pieces are refused, and the first one named.
  std::string bad;
  EXPECT_FALSE(parse_query_string("a=1&b=%zz", q, &bad));
  EXPECT_EQ("b=%zz", bad);
  EXPECT_FALSE(parse_query_string("=value", q));  // empty name
  EXPECT_FALSE(parse_query_string("a%=1", q));
}

}  // namespace
