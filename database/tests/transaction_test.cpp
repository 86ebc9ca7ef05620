// Transactions and countdown fault injection, on both engines. (Walking a
// fault through every step of a transaction is done on the inventory's own
// transactions, in d2t/controller/tests/inventory_database_test.cpp.)
#include <gtest/gtest.h>

#include "database/database.h"
#include "testing/db_fixture.h"

namespace database_test {
namespace {

using namespace database::sql;
using json_spirit::Value;

class Transactions : public Engine_Test {
 protected:
  void SetUp() override {
    Engine_Test::SetUp();
    if (IsSkipped()) return;
    Connection_var c = connect();
    ASSERT_TRUE(c);
    owner_ = add_owner(*c, "SN");
    ASSERT_GT(add_item(*c, owner_, 1, Value("T")), 0);
    ASSERT_GT(add_item(*c, owner_, 2), 0);
  }

  // Tags of item 1 and 2, "-" for NULL.
  std::string tags() {
    Select_SQL s("item", nullptr);
    s.select("tag").order_by("number");
    Connection_var c = connect();
    Legacy_Cursor cur(c, s, GM_ORM_ROWS, 0);
    Value rows;
    if (!cur.fetch(rows)) return "error: " + cur.error();
    std::string out;
    for (const Value& r : rows.get_array()) {
      const Value& t = r.get_obj().at("tag");
      out += t.is_null() ? "-" : t.get_str();
    }
    return out;
  }

  std::int64_t owner_ = -1;
};

TEST_P(Transactions, OnlyACommitKeepsChanges) {
  Update_SQL z("item");
  z.set("tag", "Z", nullptr);
  {
    Connection_var c = connect();
    database::Transaction t(c);
    ASSERT_TRUE(t.begin(false));
    EXPECT_FALSE(t.begin(false));  // already open
    ASSERT_TRUE(c->execute(z));
  }  // goes out of scope uncommitted
  EXPECT_EQ(tags(), "T-");
  {
    Connection_var c = connect();
    ASSERT_TRUE(c->begin(false));
    ASSERT_TRUE(c->execute(z));
  }  // released with the transaction open: rolled back on release
  EXPECT_FALSE(connect()->in_transaction());
  EXPECT_EQ(tags(), "T-");
  {
    Connection_var c = connect();
    database::Transaction t(c);
    ASSERT_TRUE(t.begin(false));
    ASSERT_TRUE(c->execute(z));
    EXPECT_EQ(add_item(*c, owner_, 1), -1);  // duplicate number
    t.rollback();                            // the caller gives up
  }
  EXPECT_EQ(tags(), "T-");
  {
    Connection_var c = connect();
    EXPECT_FALSE(c->in_transaction());  // pooled connection came back clean
    database::Transaction t(c);
    ASSERT_TRUE(t.begin(false));
    ASSERT_TRUE(c->execute(z));
    EXPECT_TRUE(t.commit());
    EXPECT_FALSE(t.commit());  // nothing open any more
  }
  EXPECT_EQ(tags(), "ZZ");
}

TEST_P(Transactions, MatchedAndPersistentFaults) {
  Legacy_Manager* m = Legacy_Manager::instance();
  Fault_Plan p(1, Fault_Plan::ONCE);
  p.match = "UPDATE item";
  m->set_fault_plan(p);
  Connection_var c = connect();
  EXPECT_GT(add_owner(*c, "SN2"), 0);  // not matched
  Update_SQL u("item");
  u.set("count", 1, nullptr);
  EXPECT_FALSE(c->execute(u));  // first match
  EXPECT_EQ(c->last_error(), "injected fault");
  EXPECT_TRUE(c->execute(u));  // once only
  EXPECT_EQ(m->faults_fired(), 1);

  m->set_fault_plan(Fault_Plan(2, Fault_Plan::FROM_THEN_ON));
  EXPECT_TRUE(c->execute(u));
  EXPECT_FALSE(c->execute(u));
  EXPECT_FALSE(c->execute(u));
  EXPECT_EQ(m->faults_fired(), 2);
  m->clear_fault_plan();
  EXPECT_TRUE(c->execute(u));
}

TEST_P(Transactions, ConnectionLostWhileIdleIsReplaced) {
  if (GetParam() != POSTGRESQL) GTEST_SKIP() << "only a server can drop a connection";
  Connection* first = nullptr;
  std::int64_t pid = -1;
  {
    Connection_var c = connect();
    first = c.get();
    pid = first_number(*c, Raw_SQL("SELECT pg_backend_pid()"));
    ASSERT_GT(pid, 0);
  }
  {
    // a second connection (the first is idle in the pool again, so take
    // it and another one) ends the first one's server process
    Connection_var a = connect();
    Connection_var b = connect();
    Connection_var killer = a.get() == first ? b : a;
    // pg_terminate_backend waits until the process is gone.
    Raw_SQL kill("SELECT pg_terminate_backend(:pid, 10000)");
    Legacy_Cursor cur(killer, kill.bind(":pid", pid), GM_FIRST_VAL, 0);
    bool done = false;
    ASSERT_TRUE(cur >> done) << cur.error();
    EXPECT_TRUE(done);
  }
  // whichever connection comes out of the pool works
  EXPECT_EQ(tags(), "T-");
  EXPECT_EQ(tags(), "T-");
}

INSTANTIATE_TEST_SUITE_P(Engines, Transactions, testing::Values(SQLITE, POSTGRESQL), engine_name);

}  // namespace
}  // namespace database_test
