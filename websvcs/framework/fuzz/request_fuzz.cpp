// libFuzzer target for the request path. The input is a method byte, a
// flags byte, a request target line and a body; the request runs through a
// dispatching handler exactly as the server runs it. Properties: the
// handler runs at most once, the run always ends with a reply sent, its
// status is a valid HTTP status, and the body is empty or one well-formed
// JSON document.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/framework.h"
#include "websvcs/framework/memory_channel.h"

namespace {

class Fuzz_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  explicit Fuzz_Handler(bool loopback_only)
      : JSON_RESTful_Handler_Impl2(~0UL, loopback_only ? AUTH_LOOPBACK : AUTH_SERVER) {}
  const char* get_uri_suffix_pattern() const override { return "{a}/b"; }
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
  // A handler that fails without sending: the framework completes the reply.
  int handle_put(JSON_RESTful_Channel*, Parsed_Request&) override {
    ++calls;
    return -1;
  }
  int calls = 0;
};

[[noreturn]] void fail(const char* what, const std::string& body) {
  std::fprintf(stderr, "request_fuzz: %s: %.200s\n", what, body.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int method = data[0] % 11;
  const std::uint8_t flags = data[1];
  std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::string::size_type nl = rest.find('\n');
  std::string target = rest.substr(0, nl);
  std::string body = nl == std::string::npos ? std::string() : rest.substr(nl + 1);
  std::string::size_type q = target.find('?');
  Memory_Channel ch(method, target);
  ch.set_uri_suffix(target.substr(0, q));
  if (flags & 1) ch.set_remote_addr("192.0.2.7");
  if (flags & 2) ch.set_header("Content-Type", "application/json");
  ch.set_body(body);
  Fuzz_Handler h((flags & 4) != 0);
  ch.run(h);
  if (h.calls > 1) fail("the handler ran more than once", target);
  if (!ch.sent() && !ch.body().empty()) fail("a body without a sent reply", ch.body());
  const int status = ch.reply_status();
  if (status < 100 || status > 599) fail("reply status outside 100..599", std::to_string(status));
  json_spirit::Value v;
  if (!ch.body().empty() && !json_spirit::read(ch.body(), v))
    fail("reply body is not JSON", ch.body());
  return 0;
}
