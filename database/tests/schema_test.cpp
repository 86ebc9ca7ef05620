// Creating, upgrading and refusing databases by schema version, on both
// engines.
#include <gtest/gtest.h>

#include <set>

#include "database/database.h"
#include "testing/db_fixture.h"

namespace database_test {
namespace {

using namespace database::sql;
using json_spirit::Value;

// An early version of the test schema: no "name" column, no item table.
class Early_Metadata : public Metadata {
 public:
  explicit Early_Metadata(const std::string& name) : Metadata(name, 3, 0) {
    Table* owner = add_table("owner");
    owner->add_column("id", "integer_id", "primary;autoincrement");
    owner->add_column("serial_number", "varchar", "size=16;not_null");
    owner->add_column("kind", "varchar", "size=32;not_null;default=''");
  }
};

// The test schema plus a column an existing table cannot take.
class Impossible_Metadata : public Test_Metadata {
 public:
  explicit Impossible_Metadata(const std::string& name) : Test_Metadata(name, 9) {
    add_table("owner")->add_column("must", "integer", "not_null");
  }
};

class Schema : public Engine_Test {
 protected:
  void use(std::shared_ptr<Metadata> md) { Legacy_Manager::instance()->register_metadata(md); }
  // Drops the pools; the next connection opens the same database afresh.
  void reopen() { ASSERT_TRUE(Legacy_Manager::instance()->configure(url())); }

  long long recorded_version() {
    Connection_var c = connect();
    if (!c) return -2;
    Select_SQL s("database_schema", nullptr);
    return first_number(*c, s.select("version").where("name=:name").bind(":name", std::string(DB)));
  }

  std::set<std::string> columns_of(const std::string& table) {
    std::set<std::string> out;
    Connection_var c = connect();
    if (!c) return out;
    Select_SQL s(table, nullptr);
    s.limit(1);
    Result_Set rows;
    EXPECT_TRUE(c->query(s, rows)) << c->last_error();
    out.insert(rows.columns.begin(), rows.columns.end());
    return out;
  }
};

// An older database is upgraded keeping its rows, and so is one whose
// tables exist with no version recorded.
TEST_P(Schema, OlderDatabaseIsUpgradedKeepingItsRows) {
  for (const bool bookkeeping : {true, false}) {
    SCOPED_TRACE(bookkeeping ? "version 3 recorded" : "no version recorded");
    use(std::make_shared<Early_Metadata>(DB));
    {
      Connection_var c = connect();
      ASSERT_TRUE(c);
      ASSERT_GT(add_owner(*c, "OLD"), 0);
      ASSERT_TRUE(bookkeeping || c->execute_script("DROP TABLE database_schema"));
    }
    EXPECT_EQ(recorded_version(), bookkeeping ? 3 : -1);
    EXPECT_EQ(columns_of("owner").count("name"), 0u);
    reopen();

    use(std::make_shared<Test_Metadata>(DB, 7));
    EXPECT_EQ(recorded_version(), 7);
    EXPECT_EQ(columns_of("owner").count("name"), 1u);
    EXPECT_EQ(columns_of("item").size(), 6u);
    Connection_var c = connect();
    ASSERT_TRUE(c);
    EXPECT_EQ(count(*c, "owner", "serial_number='OLD'"), 1);
    // The new table works, with its keys.
    EXPECT_GT(add_item(*c, 1, 1), 0) << c->last_error();
    EXPECT_EQ(add_item(*c, 1, 1), -1);
    fresh_database();
  }
}

TEST_P(Schema, NewerDatabaseIsRefusedAndLeftAlone) {
  ASSERT_GT(add_owner(*connect(), "KEEP"), 0);
  reopen();
  use(std::make_shared<Early_Metadata>(DB));  // version 3 < recorded 7
  Legacy_Manager* m = Legacy_Manager::instance();
  EXPECT_FALSE(m->get_connection_r(DB));
  EXPECT_NE(m->last_error(DB).find("newer"), std::string::npos) << m->last_error(DB);
  EXPECT_FALSE(m->get_connection_r(DB));  // refused every time

  use(std::make_shared<Test_Metadata>(DB, 7));
  EXPECT_EQ(recorded_version(), 7);
  EXPECT_TRUE(m->last_error(DB).empty());
  EXPECT_EQ(count(*connect(), "owner", "serial_number='KEEP'"), 1);
}

TEST_P(Schema, NewDatabaseRecordsItsVersionAndAFailedUpgradeChangesNothing) {
  ASSERT_EQ(recorded_version(), 7);
  EXPECT_EQ(columns_of("item").size(), 6u);
  use(std::make_shared<Impossible_Metadata>(DB));
  Legacy_Manager* m = Legacy_Manager::instance();
  EXPECT_FALSE(m->get_connection_r(DB));
  EXPECT_NE(m->last_error(DB).find("must"), std::string::npos) << m->last_error(DB);
  use(std::make_shared<Test_Metadata>(DB, 7));
  EXPECT_EQ(recorded_version(), 7);
  EXPECT_EQ(columns_of("owner").count("must"), 0u);
}

TEST_P(Schema, BadDeclarationIsRefused) {
  auto md = std::make_shared<Test_Metadata>(DB, 7);
  EXPECT_EQ(md->add_table("x")->add_column("y", "varchar", "size=abc"), nullptr);
  use(md);
  Legacy_Manager* m = Legacy_Manager::instance();
  EXPECT_FALSE(m->get_connection_r(DB));
  EXPECT_NE(m->last_error(DB).find("size"), std::string::npos) << m->last_error(DB);
}

INSTANTIATE_TEST_SUITE_P(Engines, Schema, testing::Values(SQLITE, POSTGRESQL), engine_name);

}  // namespace
}  // namespace database_test
