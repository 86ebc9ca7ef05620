// One statement at a time, each on a connection taken from the pool and
// dropped again, as the inventory works: insert, read by key, update by key.
// Engine 0 is SQLite in a temporary folder; engine 1 the PostgreSQL server
// named by D2T_TEST_PGSQL (skipped when unset).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "database/database.h"
#include "testing/pg_url.h"

namespace {

using namespace database::sql;

const char* const DB = "bench";

class Bench_Metadata : public Metadata {
 public:
  Bench_Metadata() : Metadata(DB, 1, 0) {
    Table* t = add_table("row_item");
    t->add_column("id", "integer_id", "primary;autoincrement");
    t->add_column("number", "integer", "not_null;unique");
    t->add_column("tag", "varchar", "size=64");
    t->add_column("flag", "bool", "not_null;default=0");
  }
};

// Points the layer at a fresh database of `engine`; false when unavailable.
bool fresh(int engine, std::string& schema) {
  static int counter = 0;
  Legacy_Manager* m = Legacy_Manager::instance();
  m->reset_for_testing();
  m->register_metadata(std::make_shared<Bench_Metadata>());
  if (engine == 0) {
    std::string dir = (std::filesystem::temp_directory_path() / "d2t-bench-XXXXXX").string();
    if (!::mkdtemp(&dir[0])) return false;
    return m->configure("sqlite:" + dir + "/");
  }
  const char* pg = std::getenv("D2T_TEST_PGSQL");
  if (!pg) return false;
  if (!m->configure(pg)) return false;
  schema = "bench_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  Connection_var admin = m->get_connection_r("bench_admin");
  if (!admin || !admin->execute_script("CREATE SCHEMA " + schema)) return false;
  return m->configure(test_support::with_search_path(pg, schema));
}

void drop(const std::string& schema) {
  Legacy_Manager* m = Legacy_Manager::instance();
  if (!schema.empty() && m->configure(std::getenv("D2T_TEST_PGSQL"))) {
    if (Connection_var admin = m->get_connection_r("bench_admin")) {
      admin->execute_script("DROP SCHEMA " + schema + " CASCADE");
    }
  }
  m->reset_for_testing();
}

bool insert_row(int number) {
  Insert_SQL i("row_item");
  i.value("number", number).value("tag", "T" + std::to_string(number));
  Connection_var c = Legacy_Manager::instance()->get_connection_r(DB);
  return c && c->execute(i) && c->last_insert_id() > 0;
}

void BM_Insert(benchmark::State& state) {
  std::string schema;
  if (!fresh(static_cast<int>(state.range(0)), schema)) {
    state.SkipWithError("engine not available");
    return;
  }
  int n = 0;
  for (auto _ : state) {
    if (!insert_row(++n)) state.SkipWithError("insert failed");
  }
  state.SetItemsProcessed(state.iterations());
  drop(schema);
}

void BM_Read_By_Key(benchmark::State& state) {
  std::string schema;
  if (!fresh(static_cast<int>(state.range(0)), schema)) {
    state.SkipWithError("engine not available");
    return;
  }
  const int ROWS = 5000;
  for (int i = 1; i <= ROWS; ++i) insert_row(i);
  int n = 0;
  for (auto _ : state) {
    Select_SQL s("row_item", nullptr);
    s.where("number=:number").bind(":number", 1 + (n++ % ROWS));
    Connection_var c = Legacy_Manager::instance()->get_connection_r(DB);
    Legacy_Cursor cur(c, s, GM_ORM_FIRST_ROW, 0);
    json_spirit::Value row;
    if (!cur.fetch(row)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(row);
  }
  state.SetItemsProcessed(state.iterations());
  drop(schema);
}

void BM_Update_By_Key(benchmark::State& state) {
  std::string schema;
  if (!fresh(static_cast<int>(state.range(0)), schema)) {
    state.SkipWithError("engine not available");
    return;
  }
  const int ROWS = 5000;
  for (int i = 1; i <= ROWS; ++i) insert_row(i);
  int n = 0;
  for (auto _ : state) {
    Update_SQL u("row_item");
    u.set("tag", n % 2 ? json_spirit::Value("X") : json_spirit::Value::null, nullptr)
        .where("number=:number")
        .bind(":number", 1 + (n % ROWS));
    ++n;
    Connection_var c = Legacy_Manager::instance()->get_connection_r(DB);
    if (!c || !c->execute(u)) state.SkipWithError("update failed");
  }
  state.SetItemsProcessed(state.iterations());
  drop(schema);
}

BENCHMARK(BM_Insert)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Read_By_Key)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Update_By_Key)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
