// The helpers over json_spirit::Object.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "json_spirit/json_helpers.h"

using namespace json_spirit;

namespace {

Object sample() {
  Object o;
  insert(o)("i", 7)("big", std::int64_t{1} << 40)("u", Value(UINT64_MAX))("b", true)(
      "s", "text")("p", Secure_String{"secret"})("n", Value::null)("o", Object{{"x", 1}})(
      "a", Array{1, 2})("r", 1.5);
  return o;
}

}  // namespace

TEST(Json_Helpers, ObjectGetMatchesOnlyItsOwnKind) {
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
}

TEST(Json_Helpers, StringAndAnyPointers) {
  const Object o = sample();
  ASSERT_NE(object_get_str(o, "s"), nullptr);
  EXPECT_EQ(*object_get_str(o, "s"), "text");
  ASSERT_NE(object_get_str(o, "p"), nullptr);
  EXPECT_EQ(*object_get_str(o, "p"), "secret");
  EXPECT_EQ(object_get_str(o, "i"), nullptr);
  EXPECT_EQ(object_get_str(o, "n"), nullptr);
  EXPECT_EQ(object_get_str(o, "missing"), nullptr);

  EXPECT_EQ(object_get_any_ptr<std::string>(o, "s"), object_get_str(o, "s"));
  ASSERT_NE(object_get_any_ptr<Object>(o, "o"), nullptr);
  EXPECT_EQ(object_get_any_ptr<Object>(o, "o")->size(), 1u);
  EXPECT_EQ(object_get_any_ptr<Object>(o, "a"), nullptr);
  ASSERT_NE(object_get_any_ptr<Array>(o, "a"), nullptr);
  EXPECT_EQ(object_get_any_ptr<Array>(o, "s"), nullptr);
  ASSERT_NE(object_get_any(o, "n"), nullptr);
  EXPECT_TRUE(object_get_any(o, "n")->is_null());
  EXPECT_EQ(object_get_any(o, "missing"), nullptr);
}

TEST(Json_Helpers, OrThrowReaders) {
  const Object o = sample();
  EXPECT_EQ(object_get_str_or_throw(o, "s"), "text");
  EXPECT_EQ(object_get_int_or_throw(o, "i"), 7);
  EXPECT_EQ(object_get_int64_or_throw(o, "big"), std::int64_t{1} << 40);
  EXPECT_THROW(object_get_int_or_throw(o, "big"), std::exception);
  EXPECT_THROW(object_get_int64_or_throw(o, "u"), std::exception);
  EXPECT_THROW(object_get_int_or_throw(o, "r"), std::exception);
  EXPECT_THROW(object_get_str_or_throw(o, "n"), std::exception);
  try {
    object_get_int_or_throw(o, "missing");
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
  }
}

TEST(Json_Helpers, InsertExtractAndBuilders) {
  Object o;
  insert(o)("a", 1)("a", "replaced");
  assign(o)("b", "2");
  EXPECT_EQ(o.size(), 2u);
  EXPECT_EQ(o.at("a").get_str(), "replaced");

  const std::string* a = nullptr;
  const std::string* b = nullptr;
  const std::string* c = nullptr;
  extract(o)("a", &a)("b", &b)("c", &c);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, "replaced");
  EXPECT_EQ(*b, "2");
  EXPECT_EQ(c, nullptr);

  Value v = 5;
  Array& arr = to_new_array(v);
  EXPECT_TRUE(arr.empty());
  Object& first = append_new_object(arr);
  first["k"] = 1;
  append_new_object(arr)["k"] = 2;
  ASSERT_EQ(v.get_array().size(), 2u);
  EXPECT_EQ(v.get_array()[0].get_obj().at("k").get_int(), 1);
  EXPECT_EQ(v.get_array()[1].get_obj().at("k").get_int(), 2);
}

TEST(Json_Helpers, LoadJson) {
  char dir_template[] = "/tmp/json_helpers_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string good = dir + "/good.conf";
  const std::string bad = dir + "/bad.conf";
  std::ofstream(good) << "{ \"faulty_threshold\": 3 } // comment\n";
  std::ofstream(bad) << "{ \"faulty_threshold\": ";

  Value v;
  ASSERT_TRUE(load_json(good, v, 1));
  EXPECT_EQ(v.get_obj().at("faulty_threshold").get_int(), 3);
  Value kept = "kept";
  EXPECT_FALSE(load_json(bad, kept, 1));
  EXPECT_EQ(kept, Value("kept"));
  EXPECT_FALSE(load_json(dir + "/missing.conf", kept, 1));
  EXPECT_FALSE(load_json(dir, kept, 1)) << "a directory is no JSON file";
  EXPECT_FALSE(load_json(bad, kept, 0)) << "reporting mode fails the same way";

  std::remove(good.c_str());
  std::remove(bad.c_str());
  std::remove(dir.c_str());
}
