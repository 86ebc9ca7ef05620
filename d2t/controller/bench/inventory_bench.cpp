// Throughput of the database inventory as the controller uses it: 50,000
// slot rows added, read back and updated one call at a time, on SQLite (a
// fresh file in a temporary folder) and on PostgreSQL (the server named by
// D2T_TEST_PGSQL, in a schema of its own; skipped when unset).
//
// Reported per phase, in operations per second: insert_per_s (add_slot from
// a medium), read_per_s (get_slot by changer id and slot number), update_per_s
// (update_slot), plus tag_read_per_s for a smaller run of lookups by media tag
// (the load path), which has no index to use.
#include <ace/Log_Msg.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "d2t/controller/media_controller_metadata.h"
#include "d2t/controller/tape_controller_database_impl.h"
#include "d2t/util/media.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"
#include "testing/pg_url.h"

namespace {

const int ROWS = 50000;
const int TAG_READS = 500;

enum Engine { SQLITE, PGSQL };

database::sql::Legacy_Manager* manager() { return database::sql::Legacy_Manager::instance(); }

bool run_script(const std::string& url, const std::string& script) {
  if (!manager()->configure(url)) return false;
  bool ok = false;
  {
    database::sql::Connection_var c = manager()->get_connection_r("inventory_bench_admin");
    ok = c && c->execute_script(script);
  }
  manager()->configure(std::string());
  return ok;
}

// Where the inventory lives for one run; cleans up after itself.
class Bench_Database {
 public:
  explicit Bench_Database(Engine engine) : engine_(engine) {
    if (engine == SQLITE) {
      char tmpl[] = "/tmp/inventory_bench.XXXXXX";
      if (!::mkdtemp(tmpl)) return;
      dir_ = tmpl;
      url_ = "sqlite:" + dir_ + "/media_controller.db";
      return;
    }
    const char* base = std::getenv("D2T_TEST_PGSQL");
    if (!base || !*base) return;
    base_ = base;
    schema_ = "inventory_bench_" + std::to_string(::getpid());
    if (!run_script(base_,
                    "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " + schema_))
      return;
    url_ = test_support::with_search_path(base_, schema_);
  }
  ~Bench_Database() {
    manager()->reset_for_testing();
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
    if (!schema_.empty()) run_script(base_, "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  }
  const std::string& url() const { return url_; }

 private:
  Engine engine_;
  std::string url_;
  std::string dir_;
  std::string base_;
  std::string schema_;
};

double per_second(int ops, std::chrono::steady_clock::time_point start) {
  std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
  return d.count() > 0 ? ops / d.count() : 0.0;
}

std::string tag_of(int slot) { return "TAG" + std::to_string(slot); }

void BM_Slot_Rows(benchmark::State& state) {
  const Engine engine = static_cast<Engine>(state.range(0));
  manager()->register_metadata(std::make_shared<Media_Controller_Metadata>());
  Bench_Database db(engine);
  if (db.url().empty() || !manager()->configure(db.url())) {
    state.SkipWithError(engine == PGSQL ? "D2T_TEST_PGSQL is not set or not usable"
                                        : "cannot make a temporary database");
    return;
  }
  Tape_Controller_Database_Impl impl;
  json_spirit::Object changer;
  json_spirit::insert(changer)("target_name", "1:0:0")("lun", 0)("sg_name", "/dev/sg3")(
      "serial_number", "BENCH");
  if (!impl.open()) {
    state.SkipWithError("cannot open the inventory");
    return;
  }

  for (auto _ : state) {
    impl.clear("BENCH");
    const ACE_INT64 changer_id = impl.add_changer(changer);
    int failed = 0;
    d2t::Media m;

    auto start = std::chrono::steady_clock::now();
    for (int slot = 1; slot <= ROWS; ++slot) {
      m.slot_number(slot);
      m.media_tag(tag_of(slot));
      if (impl.add_slot(changer_id, m) < 0) ++failed;
    }
    state.counters["insert_per_s"] = per_second(ROWS, start);

    start = std::chrono::steady_clock::now();
    json_spirit::Object row;
    for (int slot = 1; slot <= ROWS; ++slot) {
      if (!impl.get_slot(changer_id, slot, row)) ++failed;
    }
    state.counters["read_per_s"] = per_second(ROWS, start);

    start = std::chrono::steady_clock::now();
    for (int slot = 1; slot <= ROWS; ++slot) {
      m.slot_number(slot);
      m.media_tag(slot % 2 ? std::string() : tag_of(slot));
      m.is_porter(slot % 10 == 0);
      if (!impl.update_slot(changer_id, m)) ++failed;
    }
    state.counters["update_per_s"] = per_second(ROWS, start);

    start = std::chrono::steady_clock::now();
    for (int i = 1; i <= TAG_READS; ++i) {
      if (!impl.get_slot(tag_of(i * (ROWS / TAG_READS)), row)) ++failed;
    }
    state.counters["tag_read_per_s"] = per_second(TAG_READS, start);

    if (failed) state.SkipWithError("some operations failed");
  }
}

BENCHMARK(BM_Slot_Rows)
    ->ArgName("engine")
    ->Arg(SQLITE)
    ->Arg(PGSQL)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
