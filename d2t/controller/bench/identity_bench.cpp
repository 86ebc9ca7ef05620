// Drive identification in robot time: the rescan of a 16-drive,
// 500-cartridge library with realistic mechanics (move 3 s, load 16 s,
// unload 20 s) on the emulator's simulated clock, for each way the drives
// can be identified: loading and watching ("dvcid": "none"), the changer's
// T10 or serial identifiers, the drives' own element addresses (VPD
// 0xB3/0xB4). Per route, a first scan (empty inventory) and a second
// rescan of the same library: cartridge moves, simulated robot seconds and
// the controller's own wall time. One iteration each; the figures are the
// counters. Also a library shared with another host: four drive elements,
// two attached here and the other host's two holding its cartridges,
// scanned with and without T10 identifiers.
#include <ace/Log_Msg.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "d2t/emulator/clock.h"
#include "d2t/emulator/library.h"
#include "d2t/emulator/provider.h"
#include "d2t/tools/provider.h"
#include "database/database.h"
#include "json_spirit/json_spirit.h"

namespace {

using json_spirit::Object;

const int DRIVES = 16;
const int CARTRIDGES = 500;

// The controller's and the tools' waits advance the emulator's clock: a
// poll for a loading drive lets the simulated load go on.
class Controller_Side : public Controller_Clock {
 public:
  explicit Controller_Side(std::shared_ptr<d2t::emulator::Fake_Clock> c) : c_(std::move(c)) {}
  ACE_UINT64 now_ms() override { return c_->now_ms(); }
  void sleep_seconds(unsigned int s) override { c_->sleep_ms(1000ULL * s); }

 private:
  std::shared_ptr<d2t::emulator::Fake_Clock> c_;
};

class Tools_Side : public d2t::tools::Clock {
 public:
  explicit Tools_Side(std::shared_ptr<d2t::emulator::Fake_Clock> c) : c_(std::move(c)) {}
  std::uint64_t now_ms() override { return c_->now_ms(); }
  void sleep_ms(std::uint64_t ms) override { c_->sleep_ms(ms); }

 private:
  std::shared_ptr<d2t::emulator::Fake_Clock> c_;
};

// Counts MOVE MEDIUM commands.
class Counting_Provider : public d2t::scsi::Device_Provider {
 public:
  explicit Counting_Provider(std::shared_ptr<d2t::scsi::Device_Provider> inner)
      : inner_(std::move(inner)) {}
  bool list(std::vector<d2t::scsi::Device_Entry>& out, std::string* error) override {
    return inner_->list(out, error);
  }
  std::unique_ptr<d2t::scsi::Transport> open(const std::string& name, std::string* error) override {
    std::unique_ptr<d2t::scsi::Transport> t = inner_->open(name, error);
    if (!t) return t;
    return std::unique_ptr<d2t::scsi::Transport>(new Counting(std::move(t), moves));
  }
  std::atomic<int> moves{0};

 private:
  class Counting : public d2t::scsi::Transport {
   public:
    Counting(std::unique_ptr<d2t::scsi::Transport> t, std::atomic<int>& moves)
        : t_(std::move(t)), moves_(moves) {}
    d2t::scsi::Outcome execute(const d2t::scsi::Command& cmd) override {
      if (cmd.cdb_len > 0 && cmd.cdb[0] == 0xA5) ++moves_;
      return t_->execute(cmd);
    }

   private:
    std::unique_ptr<d2t::scsi::Transport> t_;
    std::atomic<int>& moves_;
  };
  std::shared_ptr<d2t::scsi::Device_Provider> inner_;
};

struct Route {
  const char* name;
  const char* dvcid;
  bool automation_vpd;
};
const Route ROUTES[] = {
    {"load_and_watch", "none", false},
    {"t10", "t10", false},
    {"serial", "serial", false},
    {"drive_vpd", "none", true},
};

// One drive of the benchmark libraries: serial "<changer>-D<i>", listed by
// the host in the reverse order of the elements.
Object bench_drive(const std::string& changer, int i) {
  Object d;
  d["serial_number"] = changer + "-D" + std::to_string(i);
  d["target_name"] = "2:0:" + std::to_string(i);
  d["sg_name"] = "/dev/sg" + std::to_string(300 - i);
  d["dev_name"] = "/dev/st" + std::to_string(i);
  return d;
}

// Writes a library of `changer` with realistic mechanics, opens a
// controller on it and times a first scan and a rescan, each expected to
// identify `expected` drives.
void time_rescans(benchmark::State& state, const Object& changer, int expected) {
  ACE_LOG_MSG->priority_mask(LM_ERROR | LM_EMERGENCY | LM_ALERT | LM_CRITICAL,
                             ACE_Log_Msg::PROCESS);
  char templ[] = "/tmp/identity_bench.XXXXXX";
  const std::string dir = ::mkdtemp(templ) ? templ : "";
  const std::string file = dir + "/library.json";
  const std::string serial = changer.at("serial_number").get_str();
  Object timing;
  timing["move_ms"] = 3000;
  timing["load_ms"] = 16000;
  timing["unload_ms"] = 20000;
  Object root;
  root["state_file"] = "library.state";
  root["timing"] = timing;
  root["changers"] = json_spirit::Array{json_spirit::Value(changer)};
  std::ofstream(file) << json_spirit::write(json_spirit::Value(root));

  auto robot = std::make_shared<d2t::emulator::Fake_Clock>();
  std::string error;
  std::shared_ptr<d2t::emulator::Library> library =
      d2t::emulator::Library::open(file, &error, robot);
  if (!library) {
    state.SkipWithError(error.c_str());
    return;
  }
  auto counter = std::make_shared<Counting_Provider>(
      std::make_shared<d2t::emulator::Emulated_Provider>(library));
  d2t::tools::set_device_provider(counter);
  d2t::tools::set_clock(std::make_shared<Tools_Side>(robot));
  database::sql::Legacy_Manager::instance()->reset_for_testing();
  database::sql::Legacy_Manager::instance()->configure("sqlite:" + dir + "/media_controller.db");
  std::unique_ptr<Tape_Controller> controller(new Tape_Controller());
  controller->config_path(dir + "/none.conf");
  controller->clock(std::make_shared<Controller_Side>(robot));
  if (!controller->open()) {
    state.SkipWithError("open failed");
    return;
  }

  for (auto _ : state) {
    for (const char* pass : {"first", "rescan"}) {
      const int moves_before = counter->moves.load();
      const std::uint64_t robot_before = robot->now_ms();
      const auto wall_before = std::chrono::steady_clock::now();
      std::vector<d2t::Changer_var> changers;
      bool ok = controller->rescan(serial, changers);
      int identified = 0;
      for (const d2t::Changer_var& c : changers)
        for (const d2t::Drive_var& d : c.null() ? std::vector<d2t::Drive_var>() : c->drives())
          identified += d.null() ? 0 : 1;
      const double wall_ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_before)
              .count();
      if (!ok || identified != expected) state.SkipWithError("rescan did not identify every drive");
      const std::string p(pass);
      state.counters[p + "_moves"] = counter->moves.load() - moves_before;
      state.counters[p + "_robot_s"] = (robot->now_ms() - robot_before) / 1000.0;
      state.counters[p + "_wall_ms"] = wall_ms;
    }
  }

  controller.reset();
  d2t::tools::set_device_provider(nullptr);
  d2t::tools::set_clock(nullptr);
  database::sql::Legacy_Manager::instance()->reset_for_testing();
  const std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", dir.c_str());
}

Object filled_changer(const std::string& serial, const char* dvcid) {
  Object changer;
  changer["serial_number"] = serial;
  changer["target_name"] = "1:0:0";
  changer["sg_name"] = "/dev/sg100";
  changer["storage_slots"] = 600;
  changer["dvcid"] = dvcid;
  Object fill;
  fill["cartridges"] = CARTRIDGES;
  fill["capacity"] = static_cast<std::int64_t>(17000000ULL * 1048576);
  changer["fill"] = fill;
  return changer;
}

void BM_Rescan_Robot_Time(benchmark::State& state) {
  const Route& route = ROUTES[state.range(0)];
  state.SetLabel(route.name);
  Object changer = filled_changer("BENCH001", route.dvcid);
  json_spirit::Array drives;
  for (int i = 0; i < DRIVES; ++i) {
    Object d = bench_drive("BENCH001", i);
    if (route.automation_vpd) d["automation_vpd"] = true;
    drives.push_back(d);
  }
  changer["drives"] = drives;
  time_rescans(state, changer, DRIVES);
}
BENCHMARK(BM_Rescan_Robot_Time)
    ->DenseRange(0, 3)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Four drive elements: 0 and 1 attached here, 2 and 3 another host's, each
// holding one of that host's cartridges.
void BM_Shared_Library_Robot_Time(benchmark::State& state) {
  const bool t10 = state.range(0) == 1;
  state.SetLabel(t10 ? "shared_t10" : "shared_load_and_watch");
  Object changer = filled_changer("SHARED01", t10 ? "t10" : "none");
  json_spirit::Array drives, cartridges;
  for (int i = 0; i < 4; ++i) {
    Object d = bench_drive("SHARED01", i);
    if (i >= 2) {
      d["attached"] = false;
      Object c;
      c["drive"] = i;
      c["barcode"] = "OTHER" + std::to_string(i) + "L9";
      c["capacity"] = static_cast<std::int64_t>(17000000ULL * 1048576);
      cartridges.push_back(c);
    }
    drives.push_back(d);
  }
  changer["drives"] = drives;
  changer["cartridges"] = cartridges;
  time_rescans(state, changer, 2);
}
BENCHMARK(BM_Shared_Library_Robot_Time)
    ->DenseRange(0, 1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
