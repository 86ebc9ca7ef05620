// Two daemons, one emulated library, one PostgreSQL inventory: each host
// loads and unloads its own drives while both refresh and one rescans; the
// inventory, both hosts' replies and the emulator agree afterwards, no
// drive row is lost, a host killed mid-move leaves its lease behind at
// once, and a database restart fails only the operations in flight. The
// emulator's operation log shows that no two robot operations that exclude
// each other ran at once, on one host or across both.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "json_spirit/json_helpers.h"
#include "tests/system/system_support.h"

namespace system_test {
namespace {

// One line of the emulator's operation log.
struct Robot_Operation {
  std::string op, drive;
  std::int64_t pid = 0, start = 0, end = 0;
  // An inventory read (storage elements, more than one) or a move touching
  // no drive (a transfer): only exclusive operations do either.
  bool exclusive = false;
  std::string text;
};

std::vector<Robot_Operation> robot_operations(const std::string& path) {
  std::vector<Robot_Operation> out;
  std::istringstream lines(read_file(path));
  for (std::string line; std::getline(lines, line);) {
    json_spirit::Value v;
    if (!json_spirit::read(line, v) || v.type() != json_spirit::obj_type) continue;
    const json_spirit::Object& o = v.get_obj();
    Robot_Operation r;
    r.op = json_spirit::object_get_str_or_empty(o, "op");
    r.drive = json_spirit::object_get_str_or_empty(o, "drive");
    json_spirit::object_get(o, "pid", r.pid);
    json_spirit::object_get(o, "start_ms", r.start);
    json_spirit::object_get(o, "end_ms", r.end);
    std::int64_t type = -1, count = 0;
    json_spirit::object_get(o, "type", type);
    json_spirit::object_get(o, "count", count);
    r.exclusive = (r.op == "move" && r.drive.empty()) ||
                  (r.op == "status" && (type == 0 || type == 2) && count > 1);
    r.text = line;
    out.push_back(r);
  }
  return out;
}

// The rule the leases keep, checked on what the robot did. A read of the
// storage elements (more than the one element a load or unload checks) is
// the inventory a refresh, rescan or scan takes, and a move between two
// slots is a transfer: these run under the exclusive lease, so nothing else
// may touch the library while they last, on either host. Loads and unloads
// hold the shared lease: those of different drives may overlap, two of one
// drive never. A rescan's own moves look like loads to the robot; its
// inventory reads are what marks it. The library's "status_ms" gives each
// read robot time, so an exclusive operation leaves an interval, not an
// instant, to collide with.
std::vector<std::string> exclusion_breaches(const std::vector<Robot_Operation>& ops) {
  std::vector<std::string> breaches;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    for (std::size_t j = i + 1; j < ops.size(); ++j) {
      const Robot_Operation &a = ops[i], &b = ops[j];
      if (a.start >= b.end || b.start >= a.end) continue;
      if (a.exclusive || b.exclusive || (!a.drive.empty() && a.drive == b.drive))
        breaches.push_back(a.text + " with " + b.text);
    }
  }
  return breaches;
}

class Multi_Host_Test : public Temp_Dir {
 protected:
  void SetUp() override {
    ::chmod(dir_.c_str(), 0755);  // the server runs as another user when the test is root
    int status = 0;
    const std::string out = pg_cluster("start", status);
    if (status != 0) GTEST_SKIP() << "no PostgreSQL server: " << out;
    url_ = out.substr(0, out.find('\n'));
    for (int h = 1; h <= 2; ++h) {
      const std::string home = dir_ + "/host" + std::to_string(h);
      ASSERT_EQ(0, ::mkdir(home.c_str(), 0755));
      // Drives 1 and 2 are host 1's, 3 and 4 host 2's.
      // Both hosts' emulators log to one file; a status read takes 100 ms.
      std::string library = shared_library_json(h == 1 ? 0x3 : 0xC, 150, 100);
      library.insert(1, "\"operation_log\": \"../robot.jsonl\", ");
      library.insert(library.find("\"move_ms\""), "\"status_ms\": 100, ");
      ASSERT_TRUE(write_file(home + "/library.json", library));
      ASSERT_TRUE(write_file(home + "/media_controller.conf",
                             "{\"max_wait_seconds\": 2, \"load_unload_retries\": 1, "
                             "\"drive_faulty_threshold\": 3}\n"));
      hosts_.emplace_back(new Demo_Daemon(home));
      hosts_.back()->extra_args({"--database", url_, "--host-id", "host" + std::to_string(h)});
    }
    std::string error;
    for (auto& h : hosts_) ASSERT_TRUE(h->start(error)) << error;
  }
  void TearDown() override {
    for (auto& h : hosts_) h->stop();
    int status = 0;
    if (!url_.empty()) pg_cluster("stop", status);
  }

  // scripts/pg-cluster `verb` on the test's cluster: its output.
  std::string pg_cluster(const std::string& verb, int& status) const {
    return run_command(shell_quote(std::string(D2T_SOURCE_DIR) + "/scripts/pg-cluster") + " " +
                           verb + " " + shell_quote(dir_ + "/pg") + " 2>&1",
                       status);
  }
  Demo_Daemon& host(int h) { return *hosts_[h - 1]; }
  // The inventory (read on both hosts) and the emulator agree, and every
  // drive is stored under its host.
  void expect_agreement() {
    const Library_View one = library_reply(host(1), "inventory"),
                       two = library_reply(host(2), "inventory");
    ASSERT_TRUE(one.ok) << one.error;
    EXPECT_EQ(describe(one), describe(two));
    const Library_View emulator = mtx_view(host(1).library_file(), CHANGER_SG);
    ASSERT_TRUE(emulator.ok) << emulator.error;
    EXPECT_EQ(describe(emulator), describe(one));
    EXPECT_EQ((std::map<std::string, std::string>{{"EMU-DRV-0001", "host1"},
                                                  {"EMU-DRV-0002", "host1"},
                                                  {"EMU-DRV-0003", "host2"},
                                                  {"EMU-DRV-0004", "host2"}}),
              one.drive_hosts);
  }

  std::string url_;
  std::vector<std::unique_ptr<Demo_Daemon>> hosts_;
};

TEST_F(Multi_Host_Test, HostsShareTheLibraryThroughLeases) {
  ASSERT_TRUE(library_reply(host(1), "list").ok);
  ASSERT_TRUE(library_reply(host(2), "list").ok);
  expect_agreement();

  // Each host works its own drives while both refresh and host 2 rescans.
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  const char* drives[4] = {"EMU-DRV-0001", "EMU-DRV-0002", "EMU-DRV-0003", "EMU-DRV-0004"};
  for (int d = 0; d < 4; ++d) {
    workers.emplace_back([&, d] {
      Demo_Daemon& h = host(d < 2 ? 1 : 2);
      for (int round = 0; round < 3; ++round) {
        const std::string tag = "A0000" + std::to_string(d * 2 + round % 2 + 1) + "L9";
        if (h.post("/d2/r/tapectl/drive/load", drive_body(drives[d], tag)).status != 200)
          ++failures;
        if (h.post("/d2/r/tapectl/drive/unload", drive_body(drives[d])).status != 200) ++failures;
      }
    });
  }
  workers.emplace_back([&] {
    for (int round = 0; round < 4; ++round) {
      if (!library_reply(host(1 + round % 2), "changer/refresh").ok) ++failures;
    }
    if (!library_reply(host(2), "list").ok) ++failures;
  });
  for (std::thread& t : workers) t.join();
  EXPECT_EQ(0, failures.load());
  expect_agreement();

  const std::vector<Robot_Operation> ops = robot_operations(dir_ + "/robot.jsonl");
  std::set<std::int64_t> readers, movers;
  for (const Robot_Operation& r : ops) (r.exclusive ? readers : movers).insert(r.pid);
  EXPECT_LE(2u, readers.size()) << "both daemons took the inventory";
  EXPECT_LE(2u, movers.size()) << "both daemons moved cartridges";
  for (const std::string& b : exclusion_breaches(ops)) ADD_FAILURE() << "at once: " << b;

  // Host 1 dies in the middle of an unload: host 2's refresh (exclusive)
  // starts at once, and corrects the inventory from the library. (A load
  // of a cartridge in the other host's drive is refused naming that host:
  // the controller's rescan test.)
  ASSERT_EQ(200,
            host(1).post("/d2/r/tapectl/drive/load", drive_body(drives[0], "A00001L9")).status);
  std::thread dying([&] { host(1).post("/d2/r/tapectl/drive/unload", drive_body(drives[0])); });
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  ::kill(host(1).pid(), SIGKILL);
  dying.join();
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(library_reply(host(2), "changer/refresh").ok);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  const Library_View after = library_reply(host(2), "inventory");
  const Library_View emulator = mtx_view(host(2).library_file(), CHANGER_SG);
  EXPECT_EQ(describe(emulator), describe(after));
}

TEST_F(Multi_Host_Test, ADatabaseRestartFailsOnlyWhatIsInFlight) {
  ASSERT_TRUE(library_reply(host(1), "list").ok);
  ASSERT_TRUE(library_reply(host(2), "list").ok);
  int status = 0;
  const std::string out = pg_cluster("restart", status);
  ASSERT_EQ(0, status) << out;
  // The pooled connections died with the server: the first operations may
  // fail (clearly), later ones succeed without a daemon restart.
  for (int h = 1; h <= 2; ++h) {
    bool ok = false;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt)
      ok = library_reply(host(h), "changer/refresh").ok;
    EXPECT_TRUE(ok) << "host" << h << ": " << host(h).log_text();
  }
  ASSERT_EQ(
      200, host(1).post("/d2/r/tapectl/drive/load", drive_body("EMU-DRV-0002", "A00003L9")).status);
  expect_agreement();
}

}  // namespace
}  // namespace system_test
