// Kinds and typed getters of json_spirit::Value.
#include <climits>
#include <cstdint>
#include <exception>

#include <gtest/gtest.h>

#include "json_spirit/json_spirit_value.h"

using namespace json_spirit;

TEST(Json_Value, KindsOfConstructedValues) {
  EXPECT_EQ(Value().type(), null_type);
  EXPECT_TRUE(Value::null.is_null());
  EXPECT_EQ(Value(true).type(), bool_type);
  EXPECT_EQ(Value(1).type(), int_type);
  EXPECT_EQ(Value(std::int64_t{1} << 40).type(), int_type);
  EXPECT_EQ(Value(0.5).type(), real_type);
  EXPECT_EQ(Value("s").type(), str_type);
  EXPECT_EQ(Value(static_cast<const char*>(nullptr)).get_str(), "");
  EXPECT_EQ(Value(Secure_String{"p"}).type(), secure_str_type);
  EXPECT_EQ(Value(Object()).type(), obj_type);
  EXPECT_EQ(Value(Array()).type(), array_type);
  EXPECT_STREQ(value_type_to_string(secure_str_type), "secure string");
}

TEST(Json_Value, GettersThrowOnKindMismatch) {
  const Value s("1");
  EXPECT_THROW(s.get_int(), Type_Error);
  EXPECT_THROW(s.get_obj(), Type_Error);
  EXPECT_THROW(Value().get_str(), Type_Error);
  EXPECT_THROW(Value(1).get_bool(), Type_Error);
  EXPECT_THROW(Value(1.5).get_int64(), Type_Error);
  try {
    Value(true).get_array();
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("array"), std::string::npos);
  }
}

TEST(Json_Value, IntegerRanges) {
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
  EXPECT_EQ(Value(3).get_real(), 3.0);
  EXPECT_EQ(Value(Secure_String{"p"}).get_str(), "p");
}

TEST(Json_Value, GetValueAndCopiesAreIndependent) {
  Object o{{"a", 1}};
  Value v(o);
  Value copy = v;
  copy.get_obj()["a"] = 2;
  EXPECT_EQ(v.get_value<Object>().at("a").get_value<int>(), 1);
  EXPECT_EQ(copy.get_obj().at("a").get_value<std::int64_t>(), 2);
  EXPECT_EQ(Value("x").get_value<std::string>(), "x");
  EXPECT_EQ(Value(2.5).get_value<double>(), 2.5);
  EXPECT_TRUE(Value(true).get_value<bool>());
  EXPECT_TRUE(Value(Array{1, 2}).get_value<Array>().size() == 2);
}
