#include "testing/db_fixture.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace database_test {

using namespace database::sql;

std::string engine_name(const testing::TestParamInfo<Engine>& info) {
  return info.param == SQLITE ? "SQLite" : "PostgreSQL";
}

Test_Metadata::Test_Metadata(const std::string& name, int version) : Metadata(name, version, 0) {
  Table* owner = add_table("owner");
  owner->add_column("id", "integer_id", "primary;autoincrement");
  owner->add_column("serial_number", "varchar", "size=16;not_null");
  owner->add_column("kind", "varchar", "size=32;not_null;default=''");
  owner->add_column("name", "varchar", "size=64");
  Table* item = add_table("item");
  item->add_column("id", "integer_id", "primary;autoincrement");
  item->add_column("owner_id", "integer_id",
                   "not_null;foreigner=owner(id),update cascade,delete cascade");
  item->add_column("number", "integer", "not_null");
  item->add_column("tag", "varchar", "size=256");
  item->add_column("flag", "bool", "not_null;default=0");
  item->add_column("count", "integer", "not_null;default=0");
  item->add_unique("owner_id,number");
}

std::int64_t add_owner(Connection& c, const std::string& serial, const char* kind) {
  json_spirit::Object o;
  o["serial_number"] = serial;
  if (kind) o["kind"] = kind;
  Insert_SQL i("owner");
  i.value(o, "serial_number", nullptr).value(o, "kind", nullptr);
  return c.execute(i) ? c.last_insert_id() : -1;
}

std::int64_t add_item(Connection& c, std::int64_t owner, int number,
                      const json_spirit::Value& tag) {
  Insert_SQL i("item");
  i.value("owner_id", owner).value("number", number).value("tag", tag);
  return c.execute(i) ? c.last_insert_id() : -1;
}

long long first_number(Connection& c, const SQL& s, long long fallback) {
  Legacy_Cursor cur(c, s, GM_FIRST_VAL, 0);
  long long n = fallback;
  return cur >> n ? n : fallback;
}

long long count(Connection& c, const std::string& table, const std::string& where) {
  Select_SQL s(table, nullptr);
  s.add_key("count(*)", "n");
  if (!where.empty()) s.where(where);
  return first_number(c, s);
}

const char* const Engine_Test::DB = "layer_test";

std::string Engine_Test::fresh_database() {
  static std::atomic<int> counter{0};
  Legacy_Manager* m = Legacy_Manager::instance();
  if (GetParam() == SQLITE) {
    std::string sub = tmp_->path() + "/db" + std::to_string(++counter) + "/";
    url_ = "sqlite:" + sub;
  } else {
    const char* pg = std::getenv("D2T_TEST_PGSQL");
    pg_schema_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    EXPECT_TRUE(m->configure(pg));
    Connection_var admin = m->get_connection_r("pg_admin");
    EXPECT_TRUE(admin) << m->last_error("pg_admin");
    if (admin) {
      EXPECT_TRUE(admin->execute_script("DROP SCHEMA IF EXISTS " + pg_schema_ +
                                        " CASCADE; CREATE SCHEMA " + pg_schema_))
          << admin->last_error();
    }
    url_ = with_search_path(pg, pg_schema_);
  }
  EXPECT_TRUE(m->configure(url_));
  return url_;
}

void Engine_Test::SetUp() {
  if (GetParam() == POSTGRESQL && !std::getenv("D2T_TEST_PGSQL")) {
    GTEST_SKIP() << "D2T_TEST_PGSQL is not set";
  }
  tmp_.reset(new Temp_Dir);
  ASSERT_FALSE(tmp_->path().empty());
  Legacy_Manager::instance()->reset_for_testing();
  Legacy_Manager::instance()->register_metadata(std::make_shared<Test_Metadata>(DB));
  fresh_database();
}

void Engine_Test::TearDown() {
  Legacy_Manager* m = Legacy_Manager::instance();
  if (!pg_schema_.empty()) {
    m->configure(std::getenv("D2T_TEST_PGSQL"));
    if (Connection_var admin = m->get_connection_r("pg_admin")) {
      admin->execute_script("DROP SCHEMA IF EXISTS " + pg_schema_ + " CASCADE");
    }
  }
  m->reset_for_testing();
}

Connection_var Engine_Test::connect() {
  Connection_var c = Legacy_Manager::instance()->get_connection_r(DB);
  EXPECT_TRUE(c) << Legacy_Manager::instance()->last_error(DB);
  return c;
}

}  // namespace database_test
