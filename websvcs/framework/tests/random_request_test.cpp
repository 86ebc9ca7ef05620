// Deterministic random requests (fixed seed, fixed budget) through the
// whole request path: whatever arrives, the handler runs at most once and
// exactly one well-formed reply comes out.
#include <gtest/gtest.h>

#include <random>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/framework.h"
#include "websvcs/framework/memory_channel.h"

namespace {

class Counting_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  Counting_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}
  int handle_get(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    ++calls;
    json_spirit::Object o;
    for (const auto& kv : req.query_string) o[kv.first] = kv.second;
    return ch->send_value(o);
  }
  int handle_post(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    ++calls;
    return ch->send_value(req.body);
  }
  int calls = 0;
};

std::string random_text(std::mt19937& rng, const std::string& alphabet, std::size_t max_len) {
  std::uniform_int_distribution<std::size_t> len(0, max_len);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string s(len(rng), ' ');
  for (char& c : s) c = alphabet[pick(rng)];
  return s;
}

TEST(Random_Requests, EveryRequestGetsOneWellFormedReply) {
  std::mt19937 rng(20240611);
  const std::string query_chars = "ab=&%+0123456789fFzZ/?#";
  const std::string body_chars = "{}[]\":,0123456789.eE-+ truefalsnul\\\x01\xff";
  for (int i = 0; i < 3000; ++i) {
    Counting_Handler h;
    int method = std::uniform_int_distribution<int>(0, 10)(rng);
    Memory_Channel ch(method, "/r?" + random_text(rng, query_chars, 24));
    ch.set_body(random_text(rng, body_chars, 40));
    ch.run(h);
    ASSERT_TRUE(ch.sent());
    ASSERT_LE(h.calls, 1);
    int st = ch.reply_status();
    ASSERT_TRUE(st == 200 || st == 400 || st == 405) << st;
    if (!ch.body().empty()) {
      json_spirit::Value v;
      ASSERT_TRUE(json_spirit::read(ch.body(), v)) << ch.body();
    }
  }
}

}  // namespace
