// Rendering the device list of a large library straight into YAJL: the
// list reply of a 50,000-slot, 64-drive library.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "d2t/util/changer.h"
#include "websvcs/controller/tapectl/json_list_tape_generator.h"
#include "websvcs/framework/yajl_gen.h"

namespace {

d2t::Changer_var make_library(int slots, int drives) {
  d2t::Changer_var c(new d2t::Changer());
  c->serial_number("BENCH-LIB");
  c->target_name("1:0:0");
  c->vendor("EMULATED");
  c->model("TAPE LIBRARY");
  c->sg_name("/dev/sg10");
  c->type("physical");
  for (int i = 0; i < drives; ++i) {
    d2t::Drive_var d(new d2t::Drive());
    d->drive_number(static_cast<ACE_UINT32>(i));
    d->serial_number("BENCH-DRV-" + std::to_string(i));
    d->dev_name("/dev/st" + std::to_string(i));
    d->sg_name("/dev/sg" + std::to_string(100 + i));
    c->add_drive(d);
  }
  for (int i = 1; i <= slots; ++i) {
    d2t::Media_var m(new d2t::Media());
    m->slot_number(i);
    if (i % 3 != 0) {
      m->state(d2t::MST_BLANK);
      m->media_tag("B" + std::to_string(100000 + i) + "L9");
      m->capacity(18000000000000ULL);
      m->label(i % 2 ? "weekly" : "");
    }
    c->add_media(m);
  }
  return c;
}

void BM_List_Reply(benchmark::State& state) {
  std::vector<d2t::Changer_var> list{make_library(static_cast<int>(state.range(0)), 64)};
  std::size_t bytes = 0;
  for (auto _ : state) {
    YAJL_Gen g;
    JSON_List_Tape_Generator gen(list);
    benchmark::DoNotOptimize(gen.generate(g.get()));
    bytes = g.text().size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
  state.counters["reply_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_List_Reply)->Arg(500)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
