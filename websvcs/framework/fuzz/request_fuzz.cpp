// libFuzzer target for the request path: the input is split into a method
// byte, a request target and a body, run through a dispatching handler, and
// the reply must always be one well-formed JSON document or empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/framework.h"
#include "websvcs/framework/memory_channel.h"

namespace {

class Fuzz_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  Fuzz_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}
  const char* get_uri_suffix_pattern() const override { return "{a}/b"; }
  int handle_get(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    json_spirit::Object o;
    for (const auto& kv : req.query_string) o[kv.first] = kv.second;
    return ch->send_value(o);
  }
  int handle_post(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    return ch->send_value(req.body);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string::size_type nl = rest.find('\n');
  std::string target = rest.substr(0, nl);
  std::string body = nl == std::string::npos ? std::string() : rest.substr(nl + 1);
  std::string::size_type q = target.find('?');
  Memory_Channel ch(data[0] % 11, target);
  ch.set_uri_suffix(target.substr(0, q));
  ch.set_body(body);
  Fuzz_Handler h;
  ch.run(h);
  if (!ch.sent()) std::abort();
  json_spirit::Value v;
  if (!ch.body().empty() && !json_spirit::read(ch.body(), v)) std::abort();
  return 0;
}
