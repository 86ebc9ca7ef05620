// Shared fixture of the inventory tests: every test runs once on SQLite (a
// fresh file in a temporary folder) and once on PostgreSQL (the server named
// by D2T_TEST_PGSQL, skipped when unset). On PostgreSQL each test program
// works in a schema of its own, so programs running at once never see each
// other's rows; the schema is dropped when the program ends.
//
// Log lines at LM_ERROR and above written by the test's own thread are
// captured in `logged()`.
#ifndef D2T_CONTROLLER_TESTS_INVENTORY_FIXTURE_H
#define D2T_CONTROLLER_TESTS_INVENTORY_FIXTURE_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Callback.h>
#include <ace/Log_Record.h>
#include <gtest/gtest.h>

#include "d2t/controller/media_controller_metadata.h"
#include "d2t/controller/tape_controller_database_impl.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

namespace inventory_test {

enum Engine { SQLITE, PGSQL };

inline std::string engine_name(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == SQLITE ? "SQLite" : "PostgreSQL";
}

// Collects the text of every log record of the thread it is installed on.
class Log_Capture : public ACE_Log_Msg_Callback {
 public:
  void log(ACE_Log_Record& record) override {
    if (record.type() < LM_ERROR) return;
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(record.msg_data());
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// The PostgreSQL schema of this program, created on first use.
class Pg_Schema {
 public:
  static Pg_Schema& instance() {
    static Pg_Schema schema;
    return schema;
  }

  // The connection text that works inside the schema; empty when the
  // server is not configured or the schema cannot be made (`error` says).
  std::string url(std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    const char* base = std::getenv("D2T_TEST_PGSQL");
    if (!base || !*base) {
      error = "D2T_TEST_PGSQL is not set";
      return std::string();
    }
    if (!created_) {
      name_ = "inventory_" + std::to_string(::getpid());
      if (!run(base, "DROP SCHEMA IF EXISTS " + name_ + " CASCADE; CREATE SCHEMA " + name_,
               error)) {
        return std::string();
      }
      base_ = base;
      created_ = true;
    }
    std::string url = base;
    if (url.compare(0, 13, "postgresql://") == 0 || url.compare(0, 11, "postgres://") == 0) {
      url += (url.find('?') == std::string::npos ? "?" : "&");
      url += "options=-csearch_path%3D" + name_;
    } else {
      url += " options='-csearch_path=" + name_ + "'";
    }
    return url;
  }

  ~Pg_Schema() {
    if (!created_) return;
    std::string error;
    run(base_, "DROP SCHEMA IF EXISTS " + name_ + " CASCADE", error);
  }

 private:
  // Runs a script through a database name that has no schema declared.
  static bool run(const std::string& url, const std::string& script, std::string& error) {
    database::sql::Legacy_Manager* manager = database::sql::Legacy_Manager::instance();
    if (!manager->configure(url)) {
      error = "cannot use " + url;
      return false;
    }
    bool ok = false;
    {
      database::sql::Connection_var c = manager->get_connection_r("inventory_admin");
      if (!c) {
        error = manager->last_error("inventory_admin");
      } else if (!(ok = c->execute_script(script))) {
        error = c->last_error();
      }
    }
    manager->configure(std::string());
    return ok;
  }

  std::mutex mutex_;
  bool created_ = false;
  std::string name_;
  std::string base_;
};

class Inventory_Test : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    manager()->register_metadata(std::make_shared<Media_Controller_Metadata>());
    if (GetParam() == SQLITE) {
      char tmpl[] = "/tmp/inventory_test.XXXXXX";
      ASSERT_NE(nullptr, ::mkdtemp(tmpl));
      dir_ = tmpl;
      url_ = "sqlite:" + dir_ + "/media_controller.db";
    } else {
      std::string error;
      url_ = Pg_Schema::instance().url(error);
      if (url_.empty()) GTEST_SKIP() << "PostgreSQL: " << error;
    }
    ASSERT_TRUE(manager()->configure(url_));
    // Opening creates the schema, so it never counts against a fault plan.
    ASSERT_TRUE(impl_.open()) << manager()->last_error("media_controller");
    if (GetParam() == PGSQL) {
      database::sql::Connection_var c = connection();
      ASSERT_TRUE(c->execute_script("DELETE FROM changer")) << c->last_error();
    }
    ACE_Log_Msg* log = ACE_LOG_MSG;
    old_flags_ = log->flags();
    log->msg_callback(&capture_);
    log->set_flags(ACE_Log_Msg::MSG_CALLBACK);
    log->clr_flags(ACE_Log_Msg::STDERR);
  }

  void TearDown() override {
    ACE_Log_Msg* log = ACE_LOG_MSG;
    log->msg_callback(nullptr);
    log->clr_flags(ACE_Log_Msg::MSG_CALLBACK);
    log->set_flags(old_flags_ & ACE_Log_Msg::STDERR);
    manager()->reset_for_testing();
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
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

  static json_spirit::Object changer_data(const std::string& serial) {
    json_spirit::Object o;
    json_spirit::insert(o)("target_name", "1:0:0")("lun", 0)("vendor", "ACME")(
        "model", "Lib-24")("sg_name", "/dev/sg3")("type", "physical")("serial_number", serial)(
        "drives", json_spirit::Array());
    return o;
  }

  static json_spirit::Object drive_data(long long changer_id, int number, const std::string& serial,
                                        const std::string& dev_name) {
    json_spirit::Object o;
    json_spirit::insert(o)("changer_id", changer_id)("target_name", "1:0:1")("lun", 0)(
        "drive_number", number)("sg_name", "/dev/sg4")("dev_name", dev_name)("vendor", "ACME")(
        "model", "LTO-9")("serial_number", serial)("failures", 0);
    return o;
  }

  static json_spirit::Object slot_data(long long changer_id, int number, const json_spirit::Value& tag,
                                       bool porter = false) {
    json_spirit::Object o;
    json_spirit::insert(o)("changer_id", changer_id)("slot_number", number)("media_tag", tag)(
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

  // Points the layer at a database that cannot be reached and forgets
  // what was logged so far.
  void make_unreachable() {
    std::string url = GetParam() == SQLITE
                          ? std::string("sqlite:/proc/no-such-dir/media_controller.db")
                          : std::string("host=/nonexistent-socket-dir port=1 user=none dbname=none "
                                        "connect_timeout=2");
    ASSERT_TRUE(manager()->configure(url));
    capture_.clear();
  }

  std::vector<std::string> logged() { return capture_.lines(); }
  bool logged_exactly(const std::string& line) {
    for (const std::string& l : capture_.lines()) {
      if (l == line) return true;
    }
    return false;
  }
  bool logged_prefix(const std::string& prefix) {
    for (const std::string& l : capture_.lines()) {
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }

  Tape_Controller_Database_Impl impl_;
  std::string url_;
  std::string dir_;
  long long changer_id_ = -1;
  long long drive_id_ = -1;
  long long slot_ids_[3] = {-1, -1, -1};
  Log_Capture capture_;
  unsigned long old_flags_ = 0;
};

}  // namespace inventory_test

#endif
