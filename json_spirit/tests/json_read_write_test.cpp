// Reading and writing JSON text: numbers at the 64-bit edges, malformed
// and hostile input, escaping, and deep values.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"

using namespace json_spirit;

namespace {

Value parse_ok(const std::string& text) {
  Value v;
  std::string error;
  EXPECT_TRUE(read(text, v, &error)) << text << ": " << error;
  return v;
}

// Expects `text` to be refused with a one-line reason containing `why`,
// leaving the target value as it was.
void expect_refused(const std::string& text, const std::string& why = "") {
  Value v = "kept";
  std::string error;
  EXPECT_FALSE(read(text, v, &error)) << "accepted: " << text;
  EXPECT_EQ(v, Value("kept")) << text;
  EXPECT_FALSE(error.empty()) << text;
  EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
  EXPECT_NE(error.find(why), std::string::npos) << error;
}

// A value nested `depth` arrays deep, built without recursion.
Value nested_arrays(int depth) {
  Value v;
  for (int i = 0; i < depth; ++i) {
    Value outer = Array();
    outer.get_array().push_back(std::move(v));
    v = std::move(outer);
  }
  return v;
}

// Runs `body` in a thread with a small stack and waits for it.
void run_on_small_stack(const std::function<void()>& body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
  pthread_t thread;
  auto trampoline = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&body)),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

}  // namespace

TEST(Json_Read, NumbersAtThe64BitEdges) {
  EXPECT_EQ(parse_ok("9223372036854775807").get_int64(), INT64_MAX);
  EXPECT_EQ(parse_ok("-9223372036854775808").get_int64(), INT64_MIN);
  const Value above = parse_ok("9223372036854775808");
  EXPECT_EQ(above.type(), int_type);
  EXPECT_EQ(above.get_uint64(), 9223372036854775808ULL);
  EXPECT_THROW(above.get_int64(), Type_Error);
  EXPECT_EQ(parse_ok("18446744073709551615").get_uint64(), UINT64_MAX);
  // Beyond 64 bits a number becomes a real.
  for (const char* text : {"18446744073709551616", "-9223372036854775809", "1.5", "1e2"}) {
    EXPECT_EQ(parse_ok(text).type(), real_type) << text;
  }
  EXPECT_DOUBLE_EQ(parse_ok("18446744073709551616").get_real(), 18446744073709551616.0);
}

TEST(Json_Read, MalformedTextAndOverflowingRealsFailCleanly) {
  for (const char* text :
       {"", "{", "[1,]", "{\"a\"}", "{\"a\":}", "1 2", "tru", "\"abc", "{\"a\":1,}", "[\"\x01\"]",
        "\"\xff\xfe\"", "nan", "'x'", "1e400", "-1e400", "[1e999]"}) {
    expect_refused(text);
  }
}

// The parser alone lets overlong forms and encoded surrogates through;
// reading them would give a value that does not write back as it was read.
TEST(Json_Read, InvalidUtf8ThatTheParserLetsThroughIsRefused) {
  for (const char* text : {"\"\xc0\xbd\"",
                           "\"a\xc1\x81"
                           "b\"",
                           "[\"\xe0\x80\xaf\"]", "\"\xed\xa0\x80\"", "\"\xf0\x80\x80\x80\"",
                           "{\"\xc0\xbd\": 1}", "{\"k\": {\"\xed\xbf\xbf\": null}}"}) {
    expect_refused(text, "UTF-8");
  }
  // Valid multi-byte text and escaped pairs still read and write back equal.
  for (const char* text :
       {"\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"", "{\"\xc3\xa9\":\"\\ud83d\\ude00\"}"}) {
    const Value v = parse_ok(text);
    Value back;
    ASSERT_TRUE(read(write(v), back)) << write(v);
    EXPECT_EQ(back, v);
  }
}

TEST(Json_Read, HostileNestingIsRefused) {
  expect_refused(std::string(1 << 20, '['), "nesting");
  Value v;

  std::string deepest(MAX_READ_DEPTH, '[');
  deepest += std::string(MAX_READ_DEPTH, ']');
  EXPECT_TRUE(read(deepest, v));
  EXPECT_FALSE(read("[" + deepest + "]", v));

  std::string objects;
  for (int i = 0; i < MAX_READ_DEPTH + 1; ++i) objects += "{\"k\":";
  objects += "1" + std::string(MAX_READ_DEPTH + 1, '}');
  EXPECT_FALSE(read(objects, v));
}

TEST(Json_Read, StructureCommentsAndDuplicateKeys) {
  const Value v = parse_ok(
      "/* conf */ {\"b\": [1, true, null, \"x\", {\"c\": -2.5}], // tail\n"
      " \"a\": [[], {}], \"d\": 1, \"d\": 2}");
  // Keys kept sorted, the last duplicate wins; written compact, and
  // formatted on several lines that read back equal.
  EXPECT_EQ(write(v), R"({"a":[[],{}],"b":[1,true,null,"x",{"c":-2.5}],"d":2})");
  EXPECT_EQ(parse_ok("\"top\"").get_str(), "top");
  const std::string pretty = write_formatted(v);
  EXPECT_NE(pretty.find('\n'), std::string::npos);
  EXPECT_EQ(parse_ok(pretty), v);
}

TEST(Json_Write, EscapesStringsAndReplacesInvalidUtf8) {
  const std::string nasty = std::string("q\"b\\s/\b\f\n\r\t") + '\x01' + '\x1f' + "\x7f" +
                            "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  const std::string text = write(Value(nasty));
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_NE(text.find("\\u0001"), std::string::npos);
  EXPECT_NE(text.find("\xc3\xa9"), std::string::npos) << "UTF-8 passes through";
  EXPECT_EQ(parse_ok(text).get_str(), nasty);
  // Invalid UTF-8 is written as the replacement character.
  for (const char* bad : {"a\xff"
                          "b",
                          "\xc3", "\xed\xa0\x80", "\xc0\xaf", "\xf5\x80\x80\x80"}) {
    const std::string written = write(Value(std::string(bad)));
    Value back;
    EXPECT_TRUE(read(written, back)) << "written text must be valid JSON: " << written;
    EXPECT_NE(written.find("\\ufffd"), std::string::npos) << written;
  }
}

TEST(Json_Write, NumbersKeepTheirKind) {
  Object o;
  insert(o)("max", Value(UINT64_MAX))("min", Value(INT64_MIN))("r", 2.0)("third", 1.0 / 3)(
      "inf", std::numeric_limits<double>::infinity());
  const std::string text = write(o);
  EXPECT_EQ(text, R"({"inf":null,"max":18446744073709551615,"min":-9223372036854775808,"r":2.0,)"
                  R"("third":0.3333333333333333})");
  EXPECT_EQ(parse_ok(text).get_obj().at("third").get_real(), 1.0 / 3) << "reals round-trip exactly";
}

// Secure strings are masked only in dumps.
TEST(Json_Write, DumpsMaskSecureStrings) {
  Object o;
  insert(o)("user", "bob")("password", Secure_String{"hunter2"});
  EXPECT_EQ(JSON_Dump(o, false), "{\"password\":\"***\",\"user\":\"bob\"}");
  EXPECT_EQ(JSON_Dump(o, true).find("hunter2"), std::string::npos);
  EXPECT_NE(write(o).find("hunter2"), std::string::npos);
}

TEST(Json_Write, DeepProgrammaticValuesNeitherOverflowWriteNorDestroy) {
  // On a 256 KiB stack, recursion per nesting level would overflow.
  const int depth = 100000;
  bool done = false;
  run_on_small_stack([&] {
    Value v = nested_arrays(depth);
    const std::string text = write(v);
    EXPECT_EQ(text.size(), 2u * depth + 4);  // "[" x depth, "null", "]" x depth
    Value o = Object();
    o.get_obj()["deep"] = std::move(v);
    EXPECT_EQ(JSON_Dump(o).size(), 2u * depth + 4 + 9);  // {"deep":...}
    o = Value();                                         // destroys the whole tree
    EXPECT_TRUE(o.is_null());
    Value again = nested_arrays(depth);  // destroyed at scope end
    done = true;
  });
  EXPECT_TRUE(done);
}
