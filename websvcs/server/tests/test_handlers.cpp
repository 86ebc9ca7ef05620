// Handlers built as a plug-in for the server's loading tests.
#include <cerrno>
#include <new>

#include "json_spirit/json_spirit.h"
#include "websvcs/framework/framework.h"

namespace {

int g_alive = 0;

class Test_Echo_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  Test_Echo_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) { ++g_alive; }
  ~Test_Echo_Handler() override { --g_alive; }
  CONCURRENCY concurrency() const override { return THREAD; }
  int init(int argc, char** argv) override {
    for (int i = 0; i < argc; ++i) args_.push_back(argv[i]);
    return 0;
  }
  int handle_get(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    json_spirit::Object o;
    json_spirit::Object q;
    for (const auto& kv : req.query_string) q[kv.first] = kv.second;
    o["query"] = q;
    o["path"] = ch->request().path(1);
    o["remote_addr"] = req.remote_addr;
    o["args"] = args_;
    return ch->send_value(o);
  }
  int handle_post(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    return ch->send_value(req.body);
  }

 private:
  json_spirit::Array args_;
};

class Test_Refusing_Handler : public JSON_RESTful_Handler {
 public:
  Test_Refusing_Handler() { ++g_alive; }
  ~Test_Refusing_Handler() override { --g_alive; }
  int init(int, char**) override { return -1; }
  int handle_request(JSON_RESTful_Channel*, json_spirit::Value&) override { return 0; }
};

void gobble(void* p) { delete static_cast<JSON_RESTful_Handler*>(p); }

}  // namespace

extern "C" int test_handlers_alive() { return g_alive; }

extern "C" JSON_RESTful_Handler* _make_Test_Echo_Handler(void (**gobbler)(void*)) {
  if (gobbler) *gobbler = &gobble;
  return new (std::nothrow) Test_Echo_Handler;
}

extern "C" JSON_RESTful_Handler* _make_Test_Refusing_Handler(void (**gobbler)(void*)) {
  if (gobbler) *gobbler = &gobble;
  return new (std::nothrow) Test_Refusing_Handler;
}

extern "C" JSON_RESTful_Handler* _make_Test_Null_Handler(void (**)(void*)) {
  errno = ENOMEM;
  return nullptr;
}

extern "C" JSON_RESTful_Handler* _make_Test_No_Gobbler_Handler(void (**)(void*)) {
  return new (std::nothrow) Test_Echo_Handler;
}
