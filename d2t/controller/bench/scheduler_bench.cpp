// The controller's per-library queues with mechanical timing (every robot
// move of the emulated library takes move_ms, 1000 by default, on the real
// clock). A plain program that prints the two situations:
//
//  1. A refresh of library B alone, then again while library A rescans:
//     the second takes its normal time, not the scan's.
//  2. Two loads run on library A, a refresh of A arrives, then a stream of
//     loads and unloads on A's other drives keeps arriving: the refresh
//     starts as soon as the two loads that were running finish, and the
//     stream waits for it.
//
//   scheduler_bench [move_ms]
#include <ace/Log_Msg.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "d2t/emulator/emulator.h"
#include "d2t/tools/provider.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"

namespace {

using json_spirit::Object;
using Steady = std::chrono::steady_clock;

double ms_since(Steady::time_point start, Steady::time_point t = Steady::now()) {
  return std::chrono::duration<double, std::milli>(t - start).count();
}

json_spirit::Value changer(const std::string& serial, int base, int drives, const char* prefix) {
  Object c;
  c["serial_number"] = serial;
  c["target_name"] = "1:0:" + std::to_string(base);
  c["sg_name"] = "/dev/sg" + std::to_string(100 + base);
  c["storage_slots"] = 20;
  json_spirit::Array list;
  for (int i = 0; i < drives; ++i) {
    Object d;
    d["serial_number"] = serial + "-D" + std::to_string(i);
    d["target_name"] = "2:0:" + std::to_string(base + i);
    d["sg_name"] = "/dev/sg" + std::to_string(200 + base + i);
    d["dev_name"] = "/dev/st" + std::to_string(base + i);
    list.push_back(d);
  }
  c["drives"] = list;
  Object fill;
  fill["cartridges"] = 10;
  fill["barcode_prefix"] = prefix;
  c["fill"] = fill;
  return c;
}

class Bench {
 public:
  Bench() {
    ACE_LOG_MSG->priority_mask(LM_ERROR | LM_EMERGENCY | LM_ALERT | LM_CRITICAL, ACE_Log_Msg::PROCESS);
    char templ[] = "/tmp/scheduler_bench.XXXXXX";
    dir_ = ::mkdtemp(templ) ? templ : "";
    file_ = dir_ + "/library.json";
    write(0);
    std::string error;
    d2t::tools::set_device_provider(
        std::shared_ptr<d2t::scsi::Device_Provider>(d2t::emulator::make_provider(file_, &error)));
    database::sql::Legacy_Manager::instance()->reset_for_testing();
    database::sql::Legacy_Manager::instance()->configure("sqlite:" + dir_ + "/media_controller.db");
    controller_.reset(new Tape_Controller());
    controller_->config_path(dir_ + "/none.conf");
    ok_ = controller_->open() && rescan("LIBA0001") && rescan("LIBB0001");
  }
  ~Bench() {
    controller_.reset();
    d2t::tools::set_device_provider(nullptr);
    database::sql::Legacy_Manager::instance()->reset_for_testing();
    const std::string cmd = "rm -rf '" + dir_ + "'";
    if (!dir_.empty() && std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot remove %s\n", dir_.c_str());
  }

  // Rewrites the library file with this move time (positions are kept in
  // the state file; the emulator re-reads a changed file).
  void write(long long move_ms) {
    Object timing;
    timing["move_ms"] = move_ms;
    Object root;
    root["state_file"] = "library.state";
    root["timing"] = timing;
    root["changers"] = json_spirit::Array{changer("LIBA0001", 0, 4, "A"), changer("LIBB0001", 10, 2, "B")};
    const std::string tmp = file_ + ".tmp";
    std::ofstream(tmp) << json_spirit::write(json_spirit::Value(root));
    std::rename(tmp.c_str(), file_.c_str());
  }

  bool rescan(const std::string& serial) {
    std::vector<d2t::Changer_var> changers;
    return controller_->rescan(serial, changers);
  }
  bool refresh(const std::string& serial) {
    Object result;
    return controller_->refresh(serial, result);
  }
  bool load(const std::string& drive, const std::string& tag) {
    Object request, result;
    request["serial_number"] = drive;
    request["media_tag"] = tag;
    return controller_->load(request, result);
  }
  bool unload(const std::string& drive) {
    Object request, result;
    request["serial_number"] = drive;
    return controller_->unload(request, result);
  }
  // Waits until `library` shows this many running operations.
  void wait_running(const std::string& library, std::size_t n) {
    for (int i = 0; i < 60000; ++i) {
      for (const json_spirit::Value& v : controller_->operations()) {
        const Object& o = v.get_obj();
        if (json_spirit::object_get_str_or_empty(o, "serial_number") == library &&
            o.at("running").get_array().size() >= n)
          return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  bool ok() const { return ok_; }
  Tape_Controller& controller() { return *controller_; }

 private:
  std::string dir_, file_;
  std::unique_ptr<Tape_Controller> controller_;
  bool ok_ = false;
};

void refresh_during_scan(Bench& b) {
  b.refresh("LIBB0001");  // warm: the first read of the library file
  Steady::time_point t = Steady::now();
  const bool alone = b.refresh("LIBB0001");
  const double alone_ms = ms_since(t);

  Steady::time_point scan_start = Steady::now();
  double scan_ms = 0;
  bool scanned = false;
  std::thread scan([&] {
    scanned = b.rescan("LIBA0001");
    scan_ms = ms_since(scan_start);
  });
  b.wait_running("LIBA0001", 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the robot is moving
  t = Steady::now();
  const bool during = b.refresh("LIBB0001");
  const double during_ms = ms_since(t);
  const double at_ms = ms_since(scan_start);
  scan.join();
  std::printf("1. refresh of B while A scans\n");
  std::printf("   refresh B alone            %8.1f ms  %s\n", alone_ms, alone ? "ok" : "FAILED");
  std::printf("   refresh B during A's scan  %8.1f ms  %s (started %.0f ms into the scan)\n",
              during_ms, during ? "ok" : "FAILED", at_ms - during_ms);
  std::printf("   rescan of A                %8.1f ms  %s\n", scan_ms, scanned ? "ok" : "FAILED");
}

void refresh_behind_loads(Bench& b) {
  std::mutex m;
  std::map<std::string, double> at;  // "+load/LIBA0001-D0" -> ms since the start
  const Steady::time_point start = Steady::now();
  b.controller().scheduler().listener([&](const Library_Scheduler::Event& e) {
    std::lock_guard<std::mutex> g(m);
    const std::string key = std::string(e.started ? "+" : "-") +
                            Library_Operation::kind_name(e.operation.kind) + "/" + e.operation.drive;
    if (at.count(key) == 0) at[key] = ms_since(start);
  });
  std::vector<std::thread> threads;
  threads.emplace_back([&] { b.load("LIBA0001-D0", "A00000L9"); });
  threads.emplace_back([&] { b.load("LIBA0001-D1", "A00001L9"); });
  b.wait_running("LIBA0001", 2);
  double refresh_arrived = 0;
  threads.emplace_back([&] {
    refresh_arrived = ms_since(start);
    b.refresh("LIBA0001");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // The stream: loads and unloads on drives 2 and 3, one after another.
  for (int d = 2; d <= 3; ++d) {
    threads.emplace_back([&b, d] {
      const std::string drive = "LIBA0001-D" + std::to_string(d);
      for (int i = 0; i < 2; ++i) {
        b.load(drive, "A0000" + std::to_string(2 * d + i) + "L9");
        b.unload(drive);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  b.controller().scheduler().listener(nullptr);
  const double loads_done = std::max(at["-load/LIBA0001-D0"], at["-load/LIBA0001-D1"]);
  std::printf("2. refresh of A queued behind loads on A\n");
  std::printf("   refresh arrived                     %8.1f ms\n", refresh_arrived);
  std::printf("   running loads (D0, D1) finished     %8.1f ms\n", loads_done);
  std::printf("   refresh started                     %8.1f ms  (%.1f ms after those loads)\n",
              at["+refresh/"], at["+refresh/"] - loads_done);
  std::printf("   refresh finished                    %8.1f ms\n", at["-refresh/"]);
  std::printf("   first load of the stream (D2) began %8.1f ms\n", at["+load/LIBA0001-D2"]);
  std::printf("   first load of the stream (D3) began %8.1f ms\n", at["+load/LIBA0001-D3"]);
}

}  // namespace

int main(int argc, char** argv) {
  const long long move_ms = argc > 1 ? std::atoll(argv[1]) : 1000;
  Bench b;
  if (!b.ok()) {
    std::fprintf(stderr, "set-up failed\n");
    return 1;
  }
  b.write(move_ms);
  std::printf("robot moves of %lld ms\n", move_ms);
  refresh_during_scan(b);
  refresh_behind_loads(b);
  return 0;
}
