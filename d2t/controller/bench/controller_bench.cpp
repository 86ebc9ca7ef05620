// Tape controller benchmarks on the emulated library (no mechanical time):
// refresh of 1,000 / 10,000 / 50,000 slots with an unchanged inventory and
// with every tag changed, and a rescan of a 16-drive, 500-cartridge library.
// The "max_rss_mib" counter is the process's peak resident memory.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <ace/Log_Msg.h>

#include "d2t/controller/tape_controller.h"
#include "d2t/emulator/emulator.h"
#include "d2t/tools/provider.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"

namespace {

using json_spirit::Object;

// "VmHWM" or "VmRSS" of /proc/self/status in MiB.
double status_mib(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, std::strlen(key), key) == 0) return std::atof(line.c_str() + std::strlen(key) + 1) / 1024.0;
  }
  return 0;
}

double max_rss_mib() {
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

// A temporary folder with an emulated library and a fresh SQLite inventory,
// and a controller opened on them.
class Bench_Library {
 public:
  Bench_Library(int slots, int drives, int cartridges) {
    ACE_LOG_MSG->priority_mask(LM_ERROR | LM_EMERGENCY | LM_ALERT | LM_CRITICAL, ACE_Log_Msg::PROCESS);
    char templ[] = "/tmp/controller_bench.XXXXXX";
    dir_ = ::mkdtemp(templ) ? templ : "";
    const std::string file = dir_ + "/library.json";

    Object changer;
    changer["serial_number"] = "BENCH001";
    changer["target_name"] = "1:0:0";
    changer["sg_name"] = "/dev/sg100";
    changer["storage_slots"] = slots;
    json_spirit::Array drive_list;
    for (int i = 0; i < drives; ++i) {
      Object d;
      d["serial_number"] = "BENCH001-D" + std::to_string(i);
      d["target_name"] = "2:0:" + std::to_string(i);
      d["sg_name"] = "/dev/sg" + std::to_string(200 + i);
      d["dev_name"] = "/dev/st" + std::to_string(i);
      drive_list.push_back(d);
    }
    changer["drives"] = drive_list;
    Object fill;
    fill["cartridges"] = cartridges;
    changer["fill"] = fill;
    Object root;
    root["state_file"] = "library.state";
    root["changers"] = json_spirit::Array{json_spirit::Value(changer)};
    std::ofstream(file) << json_spirit::write(json_spirit::Value(root));

    std::string error;
    d2t::tools::set_device_provider(
        std::shared_ptr<d2t::scsi::Device_Provider>(d2t::emulator::make_provider(file, &error)));
    database::sql::Legacy_Manager::instance()->reset_for_testing();
    database::sql::Legacy_Manager::instance()->configure("sqlite:" + dir_ + "/media_controller.db");
    controller_.reset(new Tape_Controller());
    controller_->config_path(dir_ + "/none.conf");
    ok_ = controller_->open();
  }

  ~Bench_Library() {
    controller_.reset();
    d2t::tools::set_device_provider(nullptr);
    database::sql::Legacy_Manager::instance()->reset_for_testing();
    if (!dir_.empty()) {
      const std::string cmd = "rm -rf '" + dir_ + "'";
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", dir_.c_str());
    }
  }

  // Stores the library without a scan: a changer row, then a refresh
  // adds every slot row.
  bool store_by_refresh() {
    Object row;
    row["target_name"] = "1:0:0";
    row["lun"] = 0;
    row["sg_name"] = "/dev/sg100";
    row["type"] = "virtual";
    row["serial_number"] = "BENCH001";
    if (controller_->impl()->add_changer(row) < 0) return false;
    Object result;
    return controller_->refresh("BENCH001", result);
  }

  bool execute(const std::string& text) {
    database::sql::Connection_var c =
        database::sql::Legacy_Manager::instance()->get_connection_r("media_controller");
    return c.get() != nullptr && c->execute(database::sql::Raw_SQL(text));
  }

  bool ok() const { return ok_; }
  Tape_Controller& controller() { return *controller_; }

 private:
  std::string dir_;
  std::unique_ptr<Tape_Controller> controller_;
  bool ok_ = false;
};

void BM_Refresh_Unchanged(benchmark::State& state) {
  const int slots = static_cast<int>(state.range(0));
  Bench_Library lib(slots, 2, slots / 2);
  if (!lib.ok() || !lib.store_by_refresh()) {
    state.SkipWithError("setup failed");
    return;
  }
  state.counters["setup_hwm_mib"] = status_mib("VmHWM");
  state.counters["setup_rss_mib"] = status_mib("VmRSS");
  for (auto _ : state) {
    Object result;
    if (!lib.controller().refresh("BENCH001", result)) state.SkipWithError("refresh failed");
    benchmark::DoNotOptimize(result);
  }
  state.counters["rss_mib"] = status_mib("VmRSS");
  state.SetComplexityN(slots);
  state.counters["max_rss_mib"] = max_rss_mib();
}

void BM_Refresh_AllTagsChanged(benchmark::State& state) {
  const int slots = static_cast<int>(state.range(0));
  Bench_Library lib(slots, 2, slots);
  if (!lib.ok() || !lib.store_by_refresh()) {
    state.SkipWithError("setup failed");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    const bool changed = lib.execute("UPDATE slot SET media_tag = 'OLD' || media_tag");
    state.ResumeTiming();
    if (!changed) state.SkipWithError("cannot change the tags");
    Object result;
    if (!lib.controller().refresh("BENCH001", result)) state.SkipWithError("refresh failed");
  }
  state.SetComplexityN(slots);
  state.counters["max_rss_mib"] = max_rss_mib();
}

void BM_Rescan(benchmark::State& state) {
  Bench_Library lib(1000, 16, 500);
  if (!lib.ok()) {
    state.SkipWithError("setup failed");
    return;
  }
  for (auto _ : state) {
    std::vector<d2t::Changer_var> changers;
    if (!lib.controller().rescan("BENCH001", changers) || changers.empty() || changers[0].null()) {
      state.SkipWithError("rescan failed");
    }
  }
  state.counters["max_rss_mib"] = max_rss_mib();
}

BENCHMARK(BM_Refresh_Unchanged)
    ->Arg(1000)->Arg(10000)->Arg(50000)
    ->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN)->Iterations(3);
BENCHMARK(BM_Refresh_AllTagsChanged)
    ->Arg(1000)->Arg(10000)->Arg(50000)
    ->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN)->Iterations(2);
BENCHMARK(BM_Rescan)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
