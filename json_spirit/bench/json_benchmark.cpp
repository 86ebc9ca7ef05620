// Reading and writing a device list of the size a large library produces.
#include <string>

#include <benchmark/benchmark.h>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"

namespace {

json_spirit::Value device_list(int slots) {
  using namespace json_spirit;
  Value list;
  Array& changers = to_new_array(list);
  Object& changer = append_new_object(changers);
  insert(changer)("serial_number", "CH0001")("device_name", "/dev/sg3")("id", 1);
  Value slot_list;
  Array& rows = to_new_array(slot_list);
  for (int i = 0; i < slots; ++i) {
    insert(append_new_object(rows))("slot", i)("media_tag", "TAPE" + std::to_string(i) + "L8")(
        "state", "full")("id", static_cast<std::int64_t>(i) + 1000);
  }
  changer["slots"] = std::move(slot_list);
  return list;
}

void BM_Write(benchmark::State& state) {
  const json_spirit::Value v = device_list(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(json_spirit::write(v));
}
BENCHMARK(BM_Write)->Arg(100)->Arg(10000);

void BM_Read(benchmark::State& state) {
  const std::string text = json_spirit::write(device_list(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    json_spirit::Value v;
    benchmark::DoNotOptimize(json_spirit::read(text, v));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}
BENCHMARK(BM_Read)->Arg(100)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
