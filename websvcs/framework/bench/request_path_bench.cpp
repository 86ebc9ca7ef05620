// Cost of the framework's part of a request: query and body parsing,
// dispatch, and reply writing, without the network.
#include <benchmark/benchmark.h>

#include "websvcs/framework/framework.h"
#include "websvcs/framework/memory_channel.h"

namespace {

class Echo_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  Echo_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}
  int handle_get(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    json_spirit::Object o;
    for (const auto& kv : req.query_string) o[kv.first] = kv.second;
    return ch->send_value(o);
  }
  int handle_post(JSON_RESTful_Channel* ch, Parsed_Request& req) override {
    return ch->send_value(req.body);
  }
};

class Slots_Generator : public JSON_Generator {
 public:
  explicit Slots_Generator(int n) : n_(n) {}
  bool generate(yajl_gen_t* raw) override {
    YAJL_Gen g(raw);
    YAJL_Array_Guard a(g);
    for (int i = 0; i < n_; ++i) {
      YAJL_Map_Guard m(g);
      g << "slot_number" << i << "state" << "full" << "is_porter" << false;
      g << "media_tag" << "T00001L8" << "capacity" << 12000000000000UL << "used" << 0UL;
    }
    return g.ok();
  }

 private:
  int n_;
};

void BM_Get_With_Query(benchmark::State& state) {
  Echo_Handler h;
  for (auto _ : state) {
    Memory_Channel ch(METHOD_GET, "/d2/r/tapectl/list?serial_number=ABC%20123&x=y+z");
    benchmark::DoNotOptimize(ch.run(h));
  }
}
BENCHMARK(BM_Get_With_Query);

void BM_Post_Body(benchmark::State& state) {
  Echo_Handler h;
  const std::string body =
      R"({"serial_number": "LIB0001", "media_tag": "T00001L8", "from": 3, "to": 7})";
  for (auto _ : state) {
    Memory_Channel ch(METHOD_POST, "/d2/r/tapectl/media/transfer");
    ch.set_body(body);
    benchmark::DoNotOptimize(ch.run(h));
  }
}
BENCHMARK(BM_Post_Body);

void BM_Generator_Slots(benchmark::State& state) {
  for (auto _ : state) {
    Memory_Channel ch;
    Slots_Generator gen(static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(ch.send_generator(gen));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Generator_Slots)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
