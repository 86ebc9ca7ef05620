// Pure text work: statement rendering, parameter numbering, locations and
// column declarations. No database.
#include <gtest/gtest.h>

#include "database/database.h"
#include "database/parameters.h"

namespace database_test {
namespace {

using namespace database::sql;

TEST(Builders, RenderBothDialects) {
  json_spirit::Object o;
  o["a"] = 1;
  o["b"] = "x";
  Insert_SQL i("t");
  i.value(o, "a", nullptr).value(o, "missing", nullptr).value(o, "b", "c");
  EXPECT_EQ(i.text(DIALECT_SQLITE), "INSERT INTO t (a, c) VALUES (:_v1, :_v2)");
  EXPECT_EQ(i.text(DIALECT_POSTGRESQL), "INSERT INTO t (a, c) VALUES (:_v1, :_v2) RETURNING *");
  EXPECT_EQ(i.all_bindings().at(":_v2"), Binding_Value("x"));

  Insert_SQL empty("t");
  EXPECT_EQ(empty.text(DIALECT_SQLITE), "INSERT INTO t DEFAULT VALUES");

  Select_SQL s("changer", "c");
  s.add_key("d.id", "drive_id")
      .join("drive", "d", "d.changer_id=c.id")
      .where("d.serial_number=:serial_number;", false);
  EXPECT_EQ(s.text(DIALECT_SQLITE),
            "SELECT d.id AS \"drive_id\" FROM changer c JOIN drive d ON d.changer_id=c.id "
            "WHERE d.serial_number=:serial_number");
  Select_SQL all("slot", nullptr);
  all.where("a=1").where("b=2", true).order_by("a").limit(3);
  EXPECT_EQ(all.text(DIALECT_SQLITE),
            "SELECT * FROM slot WHERE (a=1) AND (b=2) ORDER BY a LIMIT 3");

  Update_SQL u("drive");
  u.set("sg_name", nullptr, nullptr).set("failures", 0, "failures+1");
  EXPECT_EQ(u.text(DIALECT_SQLITE), "UPDATE drive SET sg_name = :_v1, failures = failures+1");
  EXPECT_TRUE(u.all_bindings().at(":_v1").is_null());
  Update_SQL nothing("drive");
  EXPECT_EQ(nothing.text(DIALECT_SQLITE), "");

  Delete_SQL d("changer");
  d.where("id=:id");
  EXPECT_EQ(d.text(DIALECT_POSTGRESQL), "DELETE FROM changer WHERE id=:id");
}

TEST(Builders, RefuseBadIdentifiers) {
  const char* bad[] = {"", "1abc", "a b", "t;DROP", "x'y", "a-b"};
  for (const char* name : bad) {
    EXPECT_TRUE(Insert_SQL(name).invalid()) << name;
    EXPECT_TRUE(Insert_SQL("t").value(name, 1).invalid()) << name;
    EXPECT_TRUE(Select_SQL("t", name[0] ? name : "a b").invalid()) << name;
    EXPECT_TRUE(Select_SQL("t", nullptr).add_key("x", name).invalid()) << name;
    EXPECT_TRUE(Update_SQL("t").set(name, 1).invalid()) << name;
    EXPECT_EQ(Delete_SQL(name).text(DIALECT_SQLITE), "") << name;
  }
  EXPECT_FALSE(Select_SQL("t", nullptr).select("c.*").invalid());
  Select_SQL count("t", nullptr);
  count.select("count(*)").where("a=:a").bind(":a", 1);  // bind keeps the builder's type
  EXPECT_EQ(count.text(DIALECT_SQLITE), "SELECT count(*) FROM t WHERE a=:a");
}

// Null, bool and int values are stored on both engines in engine_test; the
// conversions no stored value shows.
TEST(Bindings, FromEveryKind) {
  EXPECT_TRUE(Binding_Value(static_cast<const char*>(nullptr)).is_null());
  EXPECT_EQ(Binding_Value(json_spirit::Value(9007199254740993LL)).as_int(), 9007199254740993LL);
  json_spirit::Object o;
  o["k"] = 1;
  EXPECT_EQ(Binding_Value(json_spirit::Value(o)).as_text(), "{\"k\":1}");
}

TEST(Parameters, NumberedOncePerNameOutsideLiterals) {
  Positional_Text p = to_positional(
      "a=:a AND b=':a' AND c=\":b\" AND d=:b AND e=:a AND f=x::text -- :c\n AND g=:_v1 /* :d */");
  EXPECT_EQ(
      p.text,
      "a=$1 AND b=':a' AND c=\":b\" AND d=$2 AND e=$1 AND f=x::text -- :c\n AND g=$3 /* :d */");
  EXPECT_EQ(p.names, (std::vector<std::string>{":a", ":b", ":_v1"}));
  EXPECT_EQ(to_positional("x='it''s :a' AND y=:y").names.size(), 1u);
  EXPECT_EQ(to_positional("unterminated ':a").names.size(), 0u);
  EXPECT_EQ(to_positional("a: 1").text, "a: 1");
}

TEST(Locations, ParseEveryForm) {
  struct Row {
    const char* text;
    Location::Kind kind;
    const char* target;
  };
  const Row rows[] = {{"sqlite:/var/x/inv.db", Location::SQLITE, "/var/x/inv.db"},
                      {"sqlite:///var/x/", Location::SQLITE, "/var/x/n.db"},
                      {"/tmp", Location::SQLITE, "/tmp/n.db"},  // an existing directory
                      {"postgresql://u@h/db", Location::POSTGRESQL, "postgresql://u@h/db"},
                      {"host=/tmp/s port=5 dbname=x", Location::POSTGRESQL, nullptr},
                      {"", Location::NONE, nullptr},
                      {"sqlite:", Location::NONE, nullptr},
                      {"mysql-ish", Location::NONE, nullptr}};
  for (const Row& r : rows) {
    const Location l = Location::parse(r.text, "n");
    EXPECT_EQ(l.kind, r.kind) << r.text;
    EXPECT_TRUE(!r.target || l.target == r.target) << r.text << ": " << l.target;
  }
}

// What each option does to a table is seen on both engines (engine_test,
// schema_test); here the rendering no test schema uses, and the refusals.
TEST(Declarations, OptionStrings) {
  Table t("drive");
  Column* id = t.add_column("id", "integer_id", "primary;autoincrement");
  ASSERT_NE(id, nullptr);
  Column* fk = t.add_column("changer_id", "integer_id",
                            "not_null;foreigner=changer(id),update cascade,delete set null");
  ASSERT_NE(fk, nullptr);
  EXPECT_NE(t.add_column("slot_number", "integer", nullptr), nullptr);
  EXPECT_TRUE(id->primary);  // earlier pointers stay valid
  EXPECT_TRUE(t.add_unique("changer_id,slot_number"));
  EXPECT_FALSE(t.add_unique("changer_id,nope"));
  EXPECT_EQ(column_sql(*fk, DIALECT_POSTGRESQL),
            "BIGINT NOT NULL REFERENCES changer (id) ON UPDATE CASCADE ON DELETE SET NULL");

  const char* bad[] = {"size=0",
                       "size=x",
                       "primary;bogus",
                       "default=",
                       "foreigner=changer",
                       "foreigner=changer(id),update explode"};
  for (const char* opt : bad) {
    Table b("b");
    EXPECT_EQ(b.add_column("c", "integer", opt), nullptr) << opt;
    EXPECT_FALSE(b.error().empty()) << opt;
  }
  Table b("b");
  EXPECT_EQ(b.add_column("c", "blob", nullptr), nullptr);
  EXPECT_EQ(b.add_column("c d", "integer", nullptr), nullptr);
  EXPECT_NE(b.add_column("c", "integer", ""), nullptr);
  EXPECT_EQ(b.add_column("c", "integer", ""), nullptr);  // twice
}

TEST(Declarations, ScriptsKeepDeclarationOrder) {
  Metadata m("x", 1, 0);
  m.add_table("changer")->add_column("id", "integer_id", "primary;autoincrement");
  Table* slot = m.add_table("slot");
  slot->add_column("changer_id", "integer_id", "foreigner=changer(id),delete cascade");
  slot->add_column("n", "integer", nullptr);
  slot->add_unique("changer_id,n");
  EXPECT_EQ(m.add_table("slot"), slot);
  EXPECT_EQ(m.add_table("bad name"), nullptr);
  std::string create = m.get_create_script(DIALECT_SQLITE);
  EXPECT_LT(create.find("TABLE IF NOT EXISTS changer"), create.find("TABLE IF NOT EXISTS slot"));
  EXPECT_NE(create.find("UNIQUE (changer_id, n)"), std::string::npos);
  std::string drop = m.get_drop_script(DIALECT_POSTGRESQL);
  EXPECT_LT(drop.find("slot"), drop.find("changer"));
  EXPECT_TRUE(m.errors().empty());
}

}  // namespace
}  // namespace database_test
