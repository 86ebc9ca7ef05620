// Test fixtures for the SQL layer: a temporary folder, and a database on
// each engine (SQLite in the folder; PostgreSQL in a fresh schema of the
// server named by D2T_TEST_PGSQL, skipped when it is unset).
#ifndef TESTING_DB_FIXTURE_H
#define TESTING_DB_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "database/database.h"
#include "testing/pg_url.h"
#include "testing/temp_dir.h"

namespace database_test {

using test_support::Temp_Dir;

enum Engine { SQLITE, POSTGRESQL };
std::string engine_name(const testing::TestParamInfo<Engine>& info);

// The inventory-like schema the engine tests use: owner, item (cascading
// to owner, unique per owner and number), version `version`.
class Test_Metadata : public database::sql::Metadata {
 public:
  explicit Test_Metadata(const std::string& name, int version = 7);
};

// Points the layer at a fresh database of the parameter's engine, with
// Test_Metadata registered under DB; drops it all afterwards.
class Engine_Test : public testing::TestWithParam<Engine> {
 protected:
  static const char* const DB;

  void SetUp() override;
  void TearDown() override;

  database::sql::Connection_var connect();
  // The URL the layer was pointed at (sqlite:DIR/ or a libpq string).
  const std::string& url() const { return url_; }
  // Makes the layer point at a fresh database again and returns its URL.
  std::string fresh_database();

  std::unique_ptr<Temp_Dir> tmp_;
  std::string url_;
  std::string pg_schema_;
};

// Rows for the test schema. add_owner and add_item return the new row's
// id, or -1 when the database refuses the row.
std::int64_t add_owner(database::sql::Connection& c, const std::string& serial,
                       const char* kind = nullptr);
std::int64_t add_item(database::sql::Connection& c, std::int64_t owner, int number,
                      const json_spirit::Value& tag = json_spirit::Value::null);
// The first value of the first row of `s` as a number; `fallback` when
// there is no row or the query fails.
long long first_number(database::sql::Connection& c, const database::sql::SQL& s,
                       long long fallback = -1);
// Rows of `table`, only those matching `where` when it is not "".
long long count(database::sql::Connection& c, const std::string& table,
                const std::string& where = "");

using test_support::with_search_path;

}  // namespace database_test

#endif
