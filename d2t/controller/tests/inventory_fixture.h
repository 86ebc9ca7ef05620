// Shared fixture of the inventory tests: every test runs once on SQLite and
// once on PostgreSQL (skipped when D2T_TEST_PGSQL is unset), each time in a
// fresh database (the SQL layer tests' fixture makes it), with the
// inventory's schema open. Log lines at LM_ERROR and above of the test's
// thread go to `logs_`.
#ifndef D2T_CONTROLLER_TESTS_INVENTORY_FIXTURE_H
#define D2T_CONTROLLER_TESTS_INVENTORY_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "d2t/controller/media_controller_metadata.h"
#include "d2t/controller/tape_controller_database_impl.h"
#include "d2t/controller/tests/support/test_util.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"
#include "testing/db_fixture.h"

namespace inventory_test {

using controller_test::Log_Capture;
using database_test::engine_name;
using database_test::POSTGRESQL;
using database_test::SQLITE;
using json_spirit::insert;

class Inventory_Test : public database_test::Engine_Test {
 protected:
  void SetUp() override {
    Engine_Test::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    manager()->register_metadata(std::make_shared<Media_Controller_Metadata>());
    // Opening creates the schema, so it never counts against a fault plan.
    ASSERT_TRUE(impl_.open()) << manager()->last_error("media_controller");
  }

  static database::sql::Legacy_Manager* manager() {
    return database::sql::Legacy_Manager::instance();
  }
  static database::sql::Connection_var connection() {
    return manager()->get_connection_r("media_controller");
  }

  // The first column of the first row of `text` with ":id" bound to `id`,
  // as an integer; -1 when there is none.
  static long long scalar(const std::string& text, long long id = 0) {
    return database_test::first_number(*connection(), database::sql::Raw_SQL(text).bind(":id", id));
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

  Tape_Controller_Database_Impl impl_;
  long long changer_id_ = -1;
  long long drive_id_ = -1;
  long long slot_ids_[3] = {-1, -1, -1};
  Log_Capture logs_{LM_ERROR};
};

}  // namespace inventory_test

#endif
