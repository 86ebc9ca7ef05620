// Test fixtures for the SQL layer: a temporary folder, and a database on
// each engine (SQLite in the folder; PostgreSQL in a fresh schema of the
// server named by D2T_TEST_PGSQL, skipped when it is unset).
#ifndef DATABASE_TESTS_SUPPORT_DB_FIXTURE_H
#define DATABASE_TESTS_SUPPORT_DB_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "database/database.h"

namespace database_test {

// A folder removed with its content when the object goes.
class Temp_Dir {
 public:
  Temp_Dir();
  ~Temp_Dir();
  Temp_Dir(const Temp_Dir&) = delete;
  Temp_Dir& operator=(const Temp_Dir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

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
  const std::string& dir() const { return tmp_->path(); }
  // Makes the layer point at a fresh database again and returns its URL.
  std::string fresh_database();

  std::unique_ptr<Temp_Dir> tmp_;
  std::string url_;
  std::string pg_schema_;
};

// Adds search_path=`schema` to a libpq connection string or URI.
std::string with_search_path(const std::string& conninfo, const std::string& schema);

}  // namespace database_test

#endif
