// Statements, cursors and constraints, the same cases on both engines.
// (Joins with aliases and value translations are read on both engines by
// the inventory's own queries: d2t/controller/tests/inventory_database_test;
// an update by expression by the concurrency scene.)
#include <gtest/gtest.h>

#include "database/database.h"
#include "json_spirit/json_spirit.h"
#include "testing/db_fixture.h"

namespace database_test {
namespace {

using namespace database::sql;
using json_spirit::Object;
using json_spirit::Value;

class Statements : public Engine_Test {};

// The first row `s` gives, as JSON text ("{}" when there is none).
std::string first_row(Connection_var& c, const Select_SQL& s) {
  Legacy_Cursor cur(c, s, GM_ORM_FIRST_ROW, 0);
  Value row;
  return json_spirit::write(cur.fetch(row) ? row : Value(Object()));
}

TEST_P(Statements, InsertReturnsIdsAndAppliesDefaults) {
  Connection_var c = connect();
  ASSERT_TRUE(c);
  std::int64_t a = add_owner(*c, "SN-A");
  std::int64_t b = add_owner(*c, "SN-B", "virtual");
  EXPECT_GT(a, 0);
  EXPECT_GT(b, a);

  Select_SQL s("owner", nullptr);
  s.where("serial_number=:serial_number").bind(":serial_number", std::string("SN-A"));
  // The defaults: '' for kind, NULL for name; a bool read as a bool.
  EXPECT_EQ(first_row(c, s), R"({"id":1,"kind":"","name":null,"serial_number":"SN-A"})");
  ASSERT_GT(add_item(*c, a, 1), 0);
  EXPECT_EQ(first_row(c, Select_SQL("item", nullptr)),
            R"({"count":0,"flag":false,"id":1,"number":1,"owner_id":1,"tag":null})");

  // An empty string is not NULL.
  ASSERT_GT(add_item(*c, a, 2, Value("")), 0);
  EXPECT_EQ(count(*c, "item", "tag IS NULL"), 1);
  EXPECT_EQ(count(*c, "item", "tag = ''"), 1);
}

TEST_P(Statements, ConstraintsCascadesAndUpdates) {
  Connection_var c = connect();
  ASSERT_TRUE(c);
  std::int64_t a = add_owner(*c, "SN-A");
  std::int64_t b = add_owner(*c, "SN-B");
  ASSERT_GT(add_item(*c, a, 1, Value("T1")), 0);
  EXPECT_EQ(add_item(*c, a, 1, Value("T2")), -1);  // unique (owner_id, number)
  EXPECT_FALSE(c->last_error().empty());
  EXPECT_EQ(add_item(*c, a + 100, 1, Value("T3")), -1);  // foreign key to a missing owner
  Insert_SQL no_serial("owner");
  no_serial.value("name", "x");
  EXPECT_FALSE(c->execute(no_serial));                 // not_null without default
  EXPECT_EQ(add_owner(*c, std::string(17, 'x')), -1);  // size=16 on both engines
  EXPECT_EQ(count(*c, "owner"), 2);
  EXPECT_EQ(count(*c, "item"), 1);
  // The connection is still usable after refusals.
  for (int i = 2; i <= 3; ++i) ASSERT_GT(add_item(*c, a, i), 0);
  ASSERT_GT(add_item(*c, b, 1), 0);

  // A changed owner id carries over to its items; deleting cascades.
  Update_SQL move("owner");
  move.set("id", 1000, nullptr).where("id=:id").bind(":id", a);
  ASSERT_TRUE(c->execute(move)) << c->last_error();
  EXPECT_EQ(count(*c, "item", "owner_id=1000"), 3);
  Delete_SQL d("owner");
  d.where("serial_number=:serial_number").bind(":serial_number", std::string("SN-A"));
  ASSERT_TRUE(c->execute(d)) << c->last_error();
  EXPECT_EQ(c->affected_rows(), 1);
  EXPECT_EQ(count(*c, "item"), 1);
  EXPECT_TRUE(c->execute(d)) << "a delete matching nothing succeeds";
  EXPECT_EQ(c->affected_rows(), 0);
}

TEST_P(Statements, HostileValuesAreStoredAsData) {
  Connection_var c = connect();
  ASSERT_TRUE(c);
  const std::string hostile[] = {
      "O'Brien", "x'; DROP TABLE item; --", "a;b;c", "\"quoted\"", ":tag", "$1", "it''s",
      "1 OR 1=1"};
  std::int64_t a = add_owner(*c, "SN-A");
  int number = 0;
  for (const std::string& h : hostile) ASSERT_GT(add_item(*c, a, ++number, Value(h)), 0) << h;
  number = 0;
  for (const std::string& h : hostile) {
    Select_SQL s("item", nullptr);
    s.select("number").where("tag=:tag").bind(":tag", h);
    EXPECT_EQ(first_number(*c, s), ++number) << h;
  }
  EXPECT_EQ(count(*c, "item"), number);
  // Identifiers are checked, not spliced.
  Select_SQL bad("item; DROP TABLE owner", nullptr);
  Legacy_Cursor cur(c, bad, GM_ORM_ROWS, 0);
  EXPECT_FALSE(cur.ok());
  EXPECT_EQ(count(*c, "owner"), 1);
}

TEST_P(Statements, CursorModes) {
  Connection_var c = connect();
  ASSERT_TRUE(c);
  std::int64_t a = add_owner(*c, "SN-A");
  for (int i = 1; i <= 4; ++i) ASSERT_GT(add_item(*c, a, i, i % 2 ? Value("T") : Value::null), 0);

  // GM_ROWS: successive rows until the cursor tests false.
  Select_SQL ids("item", nullptr);
  ids.select("number").order_by("number");
  Legacy_Cursor rows(c, ids, GM_ROWS, 0);
  EXPECT_TRUE(rows);
  long v = 0, sum = 0, seen = 0;
  for (; rows >> v; ++seen) sum += v;
  EXPECT_EQ(seen, 4);
  EXPECT_EQ(sum, 10);
  EXPECT_FALSE(rows);

  // GM_FIRST_VAL with no row tests false and leaves the target alone.
  Select_SQL none("item", nullptr);
  none.select("tag").where("number=:n;").bind(":n", 99);
  Legacy_Cursor first(c, none, GM_FIRST_VAL, 0);
  std::string tag = "unchanged";
  EXPECT_FALSE(first >> tag);
  EXPECT_EQ(tag, "unchanged");
  EXPECT_FALSE(first);

  // GM_ORM_FIRST_ROW with no row: eof, fetch false, output untouched.
  Legacy_Cursor orm_first(c, none, GM_ORM_FIRST_ROW, 0);
  EXPECT_TRUE(orm_first.eof());
  Value out("keep");
  EXPECT_FALSE(orm_first.fetch(out));
  EXPECT_EQ(out, Value("keep"));

  // GM_ORM_ROWS: an array (empty when nothing matches). How values read is
  // seen in the rows compared above and below.
  Legacy_Cursor empty(c, none, GM_ORM_ROWS, 0);
  ASSERT_TRUE(empty.fetch(out));
  ASSERT_EQ(out.type(), json_spirit::array_type);
  EXPECT_TRUE(out.get_array().empty());
  Select_SQL nulls("item", nullptr);
  nulls.where("owner_id=:owner_id AND tag IS NULL;").bind(":owner_id", a);
  Legacy_Cursor all(c, nulls, GM_ORM_ROWS, 0);
  ASSERT_TRUE(all.fetch(out));
  EXPECT_EQ(out.get_array().size(), 2u);
}

TEST_P(Statements, BindingRulesAndRebinding) {
  Connection_var c = connect();
  ASSERT_TRUE(c);
  ASSERT_GT(add_item(*c, add_owner(*c, "SN-A"), 1), 0);

  // A parameter used but never bound fails instead of matching NULL.
  Update_SQL u("item");
  u.set("tag", "X", nullptr).where("number=:number");
  EXPECT_FALSE(c->execute(u));
  EXPECT_NE(c->last_error().find(":number"), std::string::npos) << c->last_error();
  // Bound, executed, rebound and executed again; extra bindings are ignored.
  u.bind("number", 1).bind(":unused", 5);
  ASSERT_TRUE(c->execute(u)) << c->last_error();
  EXPECT_EQ(c->affected_rows(), 1);
  u.bind(":number", 2);
  ASSERT_TRUE(c->execute(u));
  EXPECT_EQ(c->affected_rows(), 0);

  // JSON values: null stores NULL, bool a bool, int an int; no where: every row.
  Update_SQL j("item");
  j.set("tag", Value::null, nullptr)
      .set("flag", Value(true), nullptr)
      .set("count", Value(42), nullptr);
  ASSERT_TRUE(c->execute(j)) << c->last_error();
  EXPECT_EQ(first_row(c, Select_SQL("item", nullptr)),
            R"({"count":42,"flag":true,"id":1,"number":1,"owner_id":1,"tag":null})");

  // One statement per call.
  EXPECT_FALSE(c->execute(Raw_SQL("DELETE FROM item; DELETE FROM owner")));
  EXPECT_EQ(count(*c, "owner"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, Statements, testing::Values(SQLITE, POSTGRESQL), engine_name);

}  // namespace
}  // namespace database_test
