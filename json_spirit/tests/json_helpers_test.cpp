// Kinds and typed getters of json_spirit::Value, and the helpers over
// json_spirit::Object.
#include "json_spirit/json_helpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <exception>
#include <string>

#include "testing/temp_dir.h"

using namespace json_spirit;

namespace {

Object sample() {
  Object o;
  insert(o)("i", 7)("big", std::int64_t{1} << 40)("u", Value(UINT64_MAX))("b", true)("s", "text")(
      "p", Secure_String{"secret"})("n", Value::null)("o", Object{{"x", 1}})("a", Array{1, 2})("r",
                                                                                               1.5);
  return o;
}

// The text of the exception `body` throws, or "" when it throws none.
template <typename F>
std::string thrown(F body) {
  try {
    body();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(Json_Value, GettersThrowOnKindOrRangeMismatchAndCopiesAreIndependent) {
  EXPECT_EQ(Value(static_cast<const char*>(nullptr)).get_str(), "");
  EXPECT_EQ(Value(Secure_String{"p"}).type(), secure_str_type);
  EXPECT_EQ(Value(Secure_String{"p"}).get_str(), "p");
  EXPECT_EQ(Value(3).get_real(), 3.0);
  const Value s("1");
  EXPECT_THROW(s.get_int(), Type_Error);
  EXPECT_THROW(s.get_obj(), Type_Error);
  EXPECT_THROW(Value().get_str(), Type_Error);
  EXPECT_THROW(Value(1).get_bool(), Type_Error);
  EXPECT_THROW(Value(1.5).get_int64(), Type_Error);
  EXPECT_NE(thrown([] { Value(true).get_array(); }).find("array"), std::string::npos);

  // Integers only where they fit.
  EXPECT_EQ(Value(INT_MAX).get_int(), INT_MAX);
  EXPECT_THROW(Value(std::int64_t{INT_MAX} + 1).get_int(), Type_Error);
  EXPECT_THROW(Value(std::int64_t{INT_MIN} - 1).get_int(), Type_Error);
  EXPECT_THROW(Value(-1).get_uint64(), Type_Error);
  const Value big(static_cast<unsigned long long>(UINT64_MAX));
  EXPECT_TRUE(big.is_uint64());
  EXPECT_THROW(big.get_int(), Type_Error);
  EXPECT_EQ(big.get_real(), 18446744073709551615.0);
  EXPECT_FALSE(Value(static_cast<unsigned long long>(INT64_MAX)).is_uint64());
  EXPECT_NE(big, Value(std::int64_t{-1})) << "same bits, different numbers";

  Value v(Object{{"a", 1}});
  Value copy = v;
  copy.get_obj()["a"] = 2;
  EXPECT_EQ(v.get_value<Object>().at("a").get_value<int>(), 1);
  EXPECT_EQ(copy.get_obj().at("a").get_value<std::int64_t>(), 2);

  // A value assigned from inside itself (under ASan a use after free when
  // the old contents went first).
  Value wrapped(Array{Value(Object{{"a", big}})});
  wrapped = wrapped.get_array()[0];
  Value moved(Array{Value(Array{Value(1)})});
  moved = std::move(moved.get_array()[0]);
  EXPECT_EQ(json_spirit::write(wrapped) + json_spirit::write(moved),
            "{\"a\":18446744073709551615}[1]");
}

TEST(Json_Helpers, ReadersMatchOnlyTheirOwnKind) {
  const Object o = sample();
  int i = -1;
  EXPECT_TRUE(object_get(o, "i", i));
  EXPECT_EQ(i, 7);
  for (const char* key : {"big", "u", "b", "s", "n", "r", "missing"}) {
    i = -1;
    EXPECT_FALSE(object_get(o, key, i)) << key;
    EXPECT_EQ(i, -1) << "out unchanged for " << key;
  }
  std::int64_t l = -1;
  EXPECT_TRUE(object_get(o, "big", l));
  EXPECT_EQ(l, std::int64_t{1} << 40);
  l = -1;
  EXPECT_FALSE(object_get(o, "u", l)) << "above INT64_MAX does not fit";
  EXPECT_FALSE(object_get(o, "n", l));
  EXPECT_EQ(l, -1);
  bool b = false;
  EXPECT_TRUE(object_get(o, "b", b));
  EXPECT_TRUE(b);
  EXPECT_FALSE(object_get(o, "i", b)) << "no conversion from numbers";

  // Readers that give a pointer or throw.
  ASSERT_TRUE(object_get_str(o, "s") && object_get_str(o, "p"));
  EXPECT_EQ(*object_get_str(o, "s"), "text");
  EXPECT_EQ(*object_get_str(o, "p"), "secret");
  for (const char* key : {"i", "n", "missing"}) EXPECT_EQ(object_get_str(o, key), nullptr) << key;
  EXPECT_EQ(object_get_any_ptr<std::string>(o, "s"), object_get_str(o, "s"));
  EXPECT_EQ(object_get_any_ptr<Object>(o, "o"), &o.at("o").get_obj());
  EXPECT_EQ(object_get_any_ptr<Object>(o, "a"), nullptr);
  EXPECT_EQ(object_get_any_ptr<Array>(o, "a"), &o.at("a").get_array());
  EXPECT_EQ(object_get_any_ptr<Array>(o, "s"), nullptr);
  EXPECT_EQ(object_get_any(o, "n"), &o.at("n"));
  EXPECT_EQ(object_get_any(o, "missing"), nullptr);

  EXPECT_EQ(object_get_str_or_throw(o, "s"), "text");
  EXPECT_EQ(object_get_int_or_throw(o, "i"), 7);
  EXPECT_EQ(object_get_int64_or_throw(o, "big"), std::int64_t{1} << 40);
  EXPECT_THROW(object_get_int_or_throw(o, "big"), std::exception);
  EXPECT_THROW(object_get_int64_or_throw(o, "u"), std::exception);
  EXPECT_THROW(object_get_int_or_throw(o, "r"), std::exception);
  EXPECT_THROW(object_get_str_or_throw(o, "n"), std::exception);
  EXPECT_NE(thrown([&] { object_get_int_or_throw(o, "missing"); }).find("missing"),
            std::string::npos);
}

TEST(Json_Helpers, InsertExtractAndBuilders) {
  Object o;
  insert(o)("a", 1)("a", "replaced");
  assign(o)("b", "2");
  EXPECT_EQ(write(o), R"({"a":"replaced","b":"2"})");
  const std::string* b = nullptr;
  const std::string* c = nullptr;
  extract(o)("b", &b)("c", &c);
  EXPECT_EQ(b, &o.at("b").get_str());
  EXPECT_EQ(c, nullptr);

  Value v = 5;
  Array& arr = to_new_array(v);
  EXPECT_TRUE(arr.empty());
  append_new_object(arr)["k"] = 1;
  append_new_object(arr)["k"] = 2;
  EXPECT_EQ(write(v), R"([{"k":1},{"k":2}])");
}

TEST(Json_Helpers, LoadJson) {
  const test_support::Temp_Dir tmp("json_helpers");
  const std::string dir = tmp.path();
  tmp.write("good.conf", "{ \"faulty_threshold\": 3 } // comment\n");
  tmp.write("bad.conf", "{ \"faulty_threshold\": ");

  Value v;
  ASSERT_TRUE(load_json(dir + "/good.conf", v, 1));
  EXPECT_EQ(v.get_obj().at("faulty_threshold").get_int(), 3);
  Value kept = "kept";
  EXPECT_FALSE(load_json(dir + "/bad.conf", kept, 1));
  EXPECT_FALSE(load_json(dir + "/bad.conf", kept, 0)) << "reporting mode fails the same way";
  EXPECT_FALSE(load_json(dir + "/missing.conf", kept, 1));
  EXPECT_FALSE(load_json(dir, kept, 1)) << "a directory is no JSON file";
  EXPECT_EQ(kept, Value("kept"));
}
