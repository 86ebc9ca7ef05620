// Loads per minute on one emulated library with 1 s robot moves: its four
// drives worked by one daemon, against two daemons with two drives each
// sharing one PostgreSQL inventory (robot leases across hosts). The same
// work either way: every drive loads and unloads ROUNDS cartridges, all
// drives at once. Needs the PostgreSQL server programs (scripts/pg-cluster).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/system/system_support.h"

namespace {

using namespace system_test;

const int ROUNDS = 3;
const int MOVE_MS = 1000;
const int DRIVE_MS = 200;

void run_hosts(benchmark::State& state) {
  const int hosts = static_cast<int>(state.range(0));
  char tmpl[] = "/tmp/multi_host_bench.XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return state.SkipWithError("mkdtemp failed");
  ::chmod(tmpl, 0755);  // the server runs as another user when run as root
  const std::string dir = tmpl;
  const std::string cluster = shell_quote(std::string(D2T_SOURCE_DIR) + "/scripts/pg-cluster");
  int status = 0;
  std::string url = run_command(cluster + " start " + shell_quote(dir + "/pg") + " 2>&1", status);
  if (status != 0) return state.SkipWithError(("no PostgreSQL: " + url).c_str());
  url = url.substr(0, url.find('\n'));

  std::vector<std::unique_ptr<Demo_Daemon>> daemons;
  for (int h = 1; h <= hosts; ++h) {
    const std::string home = dir + "/host" + std::to_string(h);
    run_command("mkdir -p " + shell_quote(home), status);
    const unsigned attached = hosts == 1 ? 0xF : (h == 1 ? 0x3 : 0xC);
    write_file(home + "/library.json", shared_library_json(attached, MOVE_MS, DRIVE_MS));
    write_file(home + "/media_controller.conf",
               "{\"max_wait_seconds\": 2, \"load_unload_retries\": 1}\n");
    daemons.emplace_back(new Demo_Daemon(home, free_loopback_port()));
    daemons.back()->extra_args({"--database", url, "--host-id", "host" + std::to_string(h)});
    std::string error;
    if (!daemons.back()->start(error)) return state.SkipWithError(error.c_str());
    daemons.back()->get("/d2/r/tapectl/list?serial_number=EMU-LIB-0001");
  }

  int loads = 0;
  double seconds = 0;
  std::atomic<int> failed{0};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int d = 0; d < 4; ++d) {
      Demo_Daemon& daemon = *daemons[hosts == 1 ? 0 : d / 2];
      workers.emplace_back([&, d] {
        const std::string drive = "EMU-DRV-000" + std::to_string(d + 1);
        for (int r = 0; r < ROUNDS; ++r) {
          const std::string tag = "A0000" + std::to_string(d * 2 + r % 2 + 1) + "L9";
          if (daemon.post("/d2/r/tapectl/drive/load", drive_body(drive, tag)).status != 200)
            ++failed;
          if (daemon.post("/d2/r/tapectl/drive/unload", drive_body(drive)).status != 200) ++failed;
        }
      });
    }
    for (std::thread& t : workers) t.join();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    loads += 4 * ROUNDS;
  }
  state.counters["loads_per_minute"] = loads * 60.0 / seconds;
  state.counters["failed"] = failed.load();
  for (auto& d : daemons) d->stop();
  run_command(cluster + " stop " + shell_quote(dir + "/pg") + " 2>&1", status);
  run_command("rm -rf " + shell_quote(dir), status);
}

BENCHMARK(run_hosts)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
