#include <gtest/gtest.h>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/json_restful_channel.h"
#include "websvcs/framework/memory_channel.h"
#include "websvcs/framework/yajl_gen.h"

namespace {

json_spirit::Value parse(const std::string& text) {
  json_spirit::Value v;
  EXPECT_TRUE(json_spirit::read(text, v)) << text;
  return v;
}

class Fixed_Generator : public JSON_Generator {
 public:
  enum Mode { WHOLE, HALF, NOTHING, REFUSE, THROW };
  explicit Fixed_Generator(Mode m) : mode_(m) {}
  bool generate(yajl_gen_t* raw) override {
    YAJL_Gen g(raw);
    if (mode_ == THROW) throw std::runtime_error("boom");
    if (mode_ == NOTHING) return true;
    if (mode_ == HALF) {
      yajl_gen_array_open(raw);
      g << 1;
      return true;
    }
    YAJL_Array_Guard a(g);
    if (mode_ == REFUSE) return false;
    g << 1 << "two";
    return true;
  }

 private:
  Mode mode_;
};

// The first reply, value or text, is the one sent; a status set before it
// is kept; a text reply needs a type without line breaks.
TEST(Channel, OneReplyPerRequest) {
  Memory_Channel ch;
  json_spirit::Object o;
  o["a"] = 1;
  EXPECT_EQ(0, ch.send_value(o));
  EXPECT_EQ(-1, ch.send_error(500, -1, "late"));
  ch.complete(0);
  EXPECT_EQ(200, ch.reply_status());
  EXPECT_EQ("{\"a\":1}", ch.body());
  EXPECT_EQ("application/json", ch.content_type());

  Memory_Channel preset;
  preset.response()->status(500, nullptr);
  EXPECT_EQ(0, preset.send_value(o));
  EXPECT_EQ(500, preset.reply_status());
  EXPECT_EQ("Internal Server Error", preset.response()->reason());

  Memory_Channel text;
  const char* type = "text/plain; version=0.0.4";
  for (const char* bad : {"text/plain\r\nX-Injected: 1", "", static_cast<const char*>(nullptr)})
    EXPECT_EQ(-1, text.send_text("x", bad));
  EXPECT_FALSE(text.sent());
  EXPECT_EQ(0, text.send_text("a 1\n", type));
  EXPECT_EQ(-1, text.send_value(json_spirit::Value(1)));
  text.complete(0);
  EXPECT_EQ(200, text.reply_status());
  EXPECT_EQ("a 1\n", text.body());
  EXPECT_EQ(type, text.content_type());
}

TEST(Channel, ErrorReplyCarriesStatusCodeAndMessage) {
  Memory_Channel ch;
  EXPECT_EQ(0, ch.send_error(400, -1, "Need 'serial_number' in query string."));
  EXPECT_EQ(400, ch.reply_status());
  EXPECT_EQ(R"({"code":-1,"message":"Need 'serial_number' in query string.","status":400})",
            ch.body());

  Memory_Channel odd;
  odd.send_error(200, 7, nullptr);  // not an error status: becomes 500
  EXPECT_EQ(500, odd.reply_status());
  EXPECT_EQ("", parse(odd.body()).get_obj().at("message").get_str());
}

TEST(Channel, CompleteFillsInWhatTheHandlerLeftOut) {
  const struct {
    int preset;  // status set by the handler, 0 for none
    int rc, status;
    bool body;
  } rows[] = {{0, 0, 200, false}, {404, 0, 404, false}, {0, -1, 500, true}};
  for (const auto& row : rows) {
    Memory_Channel ch;
    if (row.preset) ch.response()->status(row.preset, nullptr);
    ch.complete(row.rc);
    EXPECT_TRUE(ch.sent());
    EXPECT_EQ(row.status, ch.reply_status());
    EXPECT_EQ(row.body, !ch.body().empty()) << row.rc;
    ch.complete(0);  // a second complete changes nothing
    EXPECT_EQ(row.status, ch.reply_status());
  }
}

TEST(Channel, GeneratorBodyIsSentOnlyWhenComplete) {
  {
    Memory_Channel ch;
    Fixed_Generator gen(Fixed_Generator::WHOLE);
    EXPECT_EQ(0, ch.send_generator(gen));
    EXPECT_EQ("[1,\"two\"]", ch.body());
    EXPECT_EQ(200, ch.reply_status());
  }
  for (Fixed_Generator::Mode m : {Fixed_Generator::HALF, Fixed_Generator::NOTHING,
                                  Fixed_Generator::REFUSE, Fixed_Generator::THROW}) {
    Memory_Channel ch;
    Fixed_Generator gen(m);
    EXPECT_EQ(-1, ch.send_generator(gen)) << m;
    EXPECT_EQ(500, ch.reply_status()) << m;
    EXPECT_EQ(json_spirit::obj_type, parse(ch.body()).type()) << m;
  }
}

// An array of `count` numbers written `per_piece` at a time; fails at
// number `fail_at` when it is set.
class Counting_Stream : public JSON_Stream {
 public:
  Counting_Stream(int count, int per_piece, int fail_at = -1)
      : count_(count), per_piece_(per_piece), fail_at_(fail_at) {}
  bool next(yajl_gen_t* raw, bool& done) override {
    YAJL_Gen g(raw);
    if (next_ == 0) g.note(yajl_gen_array_open(raw));
    for (int n = 0; n < per_piece_ && next_ < count_; ++n, ++next_) {
      if (next_ == fail_at_) return false;
      g << 100000 + next_;
    }
    if (next_ == count_) {
      g.note(yajl_gen_array_close(raw));
      done = true;
    }
    return g.ok();
  }
  static std::string whole(int count) {
    std::string s = "[";
    for (int i = 0; i < count; ++i) s += (i ? "," : "") + std::to_string(100000 + i);
    return s + "]";
  }

 private:
  int count_, per_piece_, fail_at_;
  int next_ = 0;
};

TEST(Channel, StreamedBodyIsKeptBackOnlyWhenLargeAndReadsAsTheWholeText) {
  // Fits the first piece: an ordinary body.
  JSON_RESTful_Channel small;
  EXPECT_EQ(0, small.send_stream(std::unique_ptr<JSON_Stream>(new Counting_Stream(10, 3))));
  EXPECT_EQ(Counting_Stream::whole(10), small.body());
  EXPECT_FALSE(small.stream());
  EXPECT_EQ(-1, small.send_stream(std::unique_ptr<JSON_Stream>(new Counting_Stream(1, 1))));

  // Beyond it: kept for the server, read in odd sizes, byte for byte.
  const int N = 40000;  // ~280 KB, several pieces past the first
  JSON_RESTful_Channel large;
  EXPECT_EQ(0, large.send_stream(std::unique_ptr<JSON_Stream>(new Counting_Stream(N, 700))));
  ASSERT_TRUE(large.stream());
  EXPECT_TRUE(large.body().empty());
  EXPECT_EQ(200, large.reply_status());
  std::string text;
  char buf[1237];
  long n = 0;
  while ((n = large.stream()->read(buf, sizeof buf)) > 0) text.append(buf, n);
  EXPECT_EQ(0, n);
  EXPECT_EQ(Counting_Stream::whole(N), text);
  EXPECT_EQ(text.size(), large.stream()->bytes_read());

  // Failing at once: a 500 error. Failing later: the read fails, and a
  // memory channel turns that into a 500 error too.
  JSON_RESTful_Channel early;
  EXPECT_EQ(-1, early.send_stream(std::unique_ptr<JSON_Stream>(new Counting_Stream(N, 700, 5))));
  EXPECT_EQ(500, early.reply_status());
  EXPECT_FALSE(early.stream());
  JSON_RESTful_Channel late;
  EXPECT_EQ(0, late.send_stream(std::unique_ptr<JSON_Stream>(new Counting_Stream(N, 700, N - 5))));
  while ((n = late.stream()->read(buf, sizeof buf)) > 0) {
  }
  EXPECT_EQ(-1, n);
}

TEST(Channel, ResponseHeadersRefuseLineBreaks) {
  CGI_Response r;
  EXPECT_TRUE(r.header("X-Id", "1"));
  EXPECT_FALSE(r.header("X-Id", "1\r\nSet-Cookie: x"));
  EXPECT_FALSE(r.header("Bad\nName", "v"));
  EXPECT_EQ("1", r.headers().at("X-Id"));
  r.status(42, "odd");
  EXPECT_EQ(500, r.status());
}

TEST(Request, SplitsTargetAndRecognisesLoopback) {
  JSON_RESTful_Request rq;
  rq.set_target("/d2/r/tapectl/list?serial_number=S");
  EXPECT_STREQ("/d2/r/tapectl/list", rq.path(1));
  EXPECT_STREQ("/d2/r/tapectl/list?serial_number=S", rq.path(0));
  EXPECT_EQ("serial_number=S", rq.query());
  rq.set_header("Content-Type", "application/json");
  ASSERT_NE(nullptr, rq.header("content-TYPE"));
  EXPECT_EQ(nullptr, rq.header("accept"));

  for (const char* addr : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1"})
    EXPECT_TRUE(is_loopback_address(addr)) << addr;
  for (const char* addr : {"10.0.0.1", "::ffff:10.0.0.1", "localhost", ""})
    EXPECT_FALSE(is_loopback_address(addr)) << addr;
}

}  // namespace
