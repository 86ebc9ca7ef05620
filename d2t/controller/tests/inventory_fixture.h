// Shared fixture of the inventory tests: every test runs once on SQLite (a
// fresh file in a temporary folder) and once on PostgreSQL (the server named
// by D2T_TEST_PGSQL, skipped when unset). On PostgreSQL each test program
// works in a schema of its own, so programs running at once never see each
// other's rows; the schema is dropped when the program ends. Log lines at
// LM_ERROR and above of the test's thread go to `logs_`.
#ifndef D2T_CONTROLLER_TESTS_INVENTORY_FIXTURE_H
#define D2T_CONTROLLER_TESTS_INVENTORY_FIXTURE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "d2t/controller/media_controller_metadata.h"
#include "d2t/controller/tape_controller_database_impl.h"
#include "d2t/controller/tests/support/test_util.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"
#include "testing/pg_url.h"

namespace inventory_test {

using controller_test::Log_Capture;
using json_spirit::insert;

enum Engine { SQLITE, PGSQL };

inline std::string engine_name(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == SQLITE ? "SQLite" : "PostgreSQL";
}

// The PostgreSQL schema of this program, created on first use and dropped
// at exit. url(): the connection text that works inside it; empty when the
// server is not configured or the schema cannot be made (`error` says).
class Pg_Schema {
 public:
  static Pg_Schema& instance() {
    static Pg_Schema schema;
    return schema;
  }
  std::string url(std::string& error) {
    const char* base = std::getenv("D2T_TEST_PGSQL");
    if (!base || !*base) {
      error = "D2T_TEST_PGSQL is not set";
      return std::string();
    }
    if (name_.empty()) {
      const std::string name = "inventory_" + std::to_string(::getpid());
      if (!run(base, "DROP SCHEMA IF EXISTS " + name + " CASCADE; CREATE SCHEMA " + name, error)) {
        return std::string();
      }
      base_ = base;
      name_ = name;
    }
    return test_support::with_search_path(base_, name_);
  }
  ~Pg_Schema() {
    std::string error;
    if (!name_.empty()) run(base_, "DROP SCHEMA IF EXISTS " + name_ + " CASCADE", error);
  }

 private:
  // Runs a script through a database name that has no schema declared.
  static bool run(const std::string& url, const std::string& script, std::string& error) {
    database::sql::Legacy_Manager* manager = database::sql::Legacy_Manager::instance();
    database::sql::Connection_var c;
    if (manager->configure(url)) c = manager->get_connection_r("inventory_admin");
    const bool ok = c && c->execute_script(script);
    if (!ok)
      error =
          c ? c->last_error() : "cannot use " + url + ": " + manager->last_error("inventory_admin");
    manager->configure(std::string());
    return ok;
  }

  std::string name_, base_;
};

class Inventory_Test : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    manager()->register_metadata(std::make_shared<Media_Controller_Metadata>());
    std::string url = "sqlite:" + dir_.file("media_controller.db"), error;
    if (GetParam() == PGSQL && (url = Pg_Schema::instance().url(error)).empty()) {
      GTEST_SKIP() << "PostgreSQL: " << error;
    }
    ASSERT_TRUE(manager()->configure(url));
    // Opening creates the schema, so it never counts against a fault plan.
    ASSERT_TRUE(impl_.open()) << manager()->last_error("media_controller");
    ASSERT_TRUE(GetParam() == SQLITE || connection()->execute_script("DELETE FROM changer"));
  }
  void TearDown() override { manager()->reset_for_testing(); }

  static database::sql::Legacy_Manager* manager() {
    return database::sql::Legacy_Manager::instance();
  }
  static database::sql::Connection_var connection() {
    return manager()->get_connection_r("media_controller");
  }

  // The first column of the first row of `text` with ":id" bound to `id`,
  // as an integer; -1 when there is none.
  static long long scalar(const std::string& text, long long id = 0) {
    database::sql::Raw_SQL sql(text);
    sql.bind(":id", id);
    database::sql::Legacy_Cursor cursor(connection(), sql, database::sql::GM_FIRST_VAL, 0);
    long long value = -1;
    cursor >> value;
    return cursor ? value : -1;
  }

  // One row of `table` by id, all columns, values as the engine gives them.
  static json_spirit::Object row(const std::string& table, long long id) {
    database::sql::Select_SQL sql(table, nullptr);
    sql.where("id=:id").bind(":id", id);
    database::sql::Legacy_Cursor cursor(connection(), sql, database::sql::GM_ORM_FIRST_ROW, 0);
    json_spirit::Value v;
    if (cursor.eof() || !cursor.fetch(v)) return json_spirit::Object();
    return v.get_obj();
  }

  static json_spirit::Value tag_of(long long slot_id) { return row("slot", slot_id)["media_tag"]; }

  static json_spirit::Object changer_data(const std::string& serial) {
    json_spirit::Object o;
    insert(o)("target_name", "1:0:0")("lun", 0)("vendor", "ACME")("model", "Lib-24")(
        "sg_name", "/dev/sg3")("type", "physical")("serial_number", serial)("drives",
                                                                            json_spirit::Array());
    return o;
  }
  static json_spirit::Object drive_data(long long changer_id, int number, const std::string& serial,
                                        const std::string& dev_name) {
    json_spirit::Object o;
    insert(o)("changer_id", changer_id)("target_name", "1:0:1")("lun", 0)("drive_number", number)(
        "sg_name", "/dev/sg4")("dev_name", dev_name)("vendor", "ACME")("model", "LTO-9")(
        "serial_number", serial)("failures", 0);
    return o;
  }
  static json_spirit::Object slot_data(long long changer_id, int number,
                                       const json_spirit::Value& tag, bool porter = false) {
    json_spirit::Object o;
    insert(o)("changer_id", changer_id)("slot_number", number)("media_tag", tag)(
        "is_porter", porter)("state", "full");
    return o;
  }

  // A changer "LIB1" with drive 0 ("DRV0", /dev/nst0) and slots 1..3
  // holding "T1", nothing and "T3".
  void make_library() {
    changer_id_ = impl_.add_changer(changer_data("LIB1"));
    ASSERT_GT(changer_id_, 0);
    drive_id_ = impl_.add_drive(drive_data(changer_id_, 0, "DRV0", "/dev/nst0"));
    ASSERT_GT(drive_id_, 0);
    slot_ids_[0] = impl_.add_slot(slot_data(changer_id_, 1, "T1"));
    slot_ids_[1] = impl_.add_slot(slot_data(changer_id_, 2, json_spirit::Value::null));
    slot_ids_[2] = impl_.add_slot(slot_data(changer_id_, 3, "T3"));
    for (long long id : slot_ids_) ASSERT_GT(id, 0);
  }

  controller_test::Temp_Dir dir_;
  Tape_Controller_Database_Impl impl_;
  long long changer_id_ = -1;
  long long drive_id_ = -1;
  long long slot_ids_[3] = {-1, -1, -1};
  Log_Capture logs_{LM_ERROR};
};

}  // namespace inventory_test

#endif
