// Many threads writing and reading one database at once: no "database is
// locked" failures and no lost updates.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "database/advisory_lock.h"
#include "database/database.h"
#include "testing/db_fixture.h"

namespace database_test {
namespace {

using namespace database::sql;

class Concurrency : public Engine_Test {};

TEST_P(Concurrency, WritersAndReadersAllSucceedWithoutLostUpdates) {
  const int THREADS = 8;
  const int ROUNDS = 60;
  Legacy_Manager* m = Legacy_Manager::instance();
  // First connections racing each other create the schema once.
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      Connection_var c = m->get_connection_r(Engine_Test::DB);
      if (!c || add_owner(*c, "SN" + std::to_string(t)) < 0) ++failures;
    });
  }
  for (auto& th : threads) th.join();
  ASSERT_EQ(failures.load(), 0);
  threads.clear();

  Connection_var c = connect();
  ASSERT_TRUE(c);
  const std::int64_t owner = add_owner(*c, "SN");
  const std::int64_t counter_item = add_item(*c, owner, 0);
  ASSERT_GT(counter_item, 0);

  std::vector<std::string> errors(THREADS);
  auto worker = [&](int t) {
    for (int r = 0; r < ROUNDS; ++r) {
      auto fail = [&](const std::string& what, Connection_var& c) {
        if (errors[t].empty())
          errors[t] = what + ": " + (c ? c->last_error() : m->last_error(Engine_Test::DB));
      };
      // an insert of a row of its own
      {
        Connection_var c = m->get_connection_r(Engine_Test::DB);
        if (!c || add_item(*c, owner, 1 + t * ROUNDS + r, "t" + std::to_string(t)) < 0) {
          fail("insert", c);
        }
      }
      // an increment in one statement
      {
        Connection_var c = m->get_connection_r(Engine_Test::DB);
        Update_SQL u("item");
        u.set("count", Binding_Value(), "count+1").where("id=:id").bind(":id", counter_item);
        if (!c || !c->execute(u)) fail("increment", c);
      }
      // a read-modify-write of the same row inside a write transaction
      {
        Connection_var c = m->get_connection_r(Engine_Test::DB);
        if (!c) {
          fail("connect", c);
          continue;
        }
        database::Transaction tx(c);
        Select_SQL s("item", nullptr);
        s.select("number").where("id=:id").bind(":id", counter_item);
        // The number only goes down from 0: 1 stands for a failed read.
        const long long n = tx.begin(false) ? first_number(*c, s, 1) : 1;
        Update_SQL u("item");
        u.set("number", n - 1, nullptr).where("id=:id").bind(":id", counter_item);
        const bool ok = n <= 0 && c->execute(u) && tx.commit();
        if (!ok) fail("read-modify-write", c);
      }
      // a read of everything
      {
        Connection_var c = m->get_connection_r(Engine_Test::DB);
        Select_SQL s("item", nullptr);
        s.where("owner_id=:owner_id").bind(":owner_id", owner);
        json_spirit::Value rows;
        if (!c || !Legacy_Cursor(c, s, GM_ORM_ROWS, 0).fetch(rows)) fail("read", c);
      }
    }
  };
  for (int t = 0; t < THREADS; ++t) threads.emplace_back(worker, t);
  for (auto& th : threads) th.join();

  for (int t = 0; t < THREADS; ++t) EXPECT_EQ(errors[t], "") << "thread " << t;

  EXPECT_EQ(count(*c, "item"), 1 + THREADS * ROUNDS);
  Select_SQL counter("item", nullptr);
  counter.select("count").select("number").where("id=:id").bind(":id", counter_item);
  Legacy_Cursor cc(c, counter, GM_ORM_FIRST_ROW, 0);
  json_spirit::Value row;
  ASSERT_TRUE(cc.fetch(row));
  EXPECT_EQ(row.get_obj().at("count"), json_spirit::Value(THREADS * ROUNDS));
  EXPECT_EQ(row.get_obj().at("number"), json_spirit::Value(-THREADS * ROUNDS));
}

// Locks by name for processes sharing the database: shared holders run
// together, an exclusive one waits for them; a holder whose session ends
// (a host that died) loses its lock, and the layer opens fresh connections
// in place of the dropped ones. SQLite has one process: always granted.
TEST_P(Concurrency, AdvisoryLocksExcludeAcrossSessionsAndGoWithThem) {
  std::string error;
  Advisory_Lock a, b, x;
  ASSERT_TRUE(Advisory_Lock::take(DB, "robot:L1", Advisory_Lock::SHARED, true, a, error)) << error;
  ASSERT_TRUE(Advisory_Lock::take(DB, "robot:L1", Advisory_Lock::SHARED, false, b, error)) << error;
  if (GetParam() == SQLITE) {
    EXPECT_TRUE(Advisory_Lock::take(DB, "robot:L1", Advisory_Lock::EXCLUSIVE, false, x, error));
    return;
  }
  EXPECT_FALSE(Advisory_Lock::take(DB, "robot:L1", Advisory_Lock::EXCLUSIVE, false, x, error));
  EXPECT_EQ("", error);  // busy, not broken
  EXPECT_TRUE(Advisory_Lock::take(DB, "robot:L2", Advisory_Lock::EXCLUSIVE, false, x, error));
  x.release();

  // A waiting exclusive request is granted once both shared holders went.
  std::atomic<bool> granted{false};
  std::thread waiter([&] {
    std::string e;
    Advisory_Lock w;
    granted = Advisory_Lock::take(DB, "robot:L1", Advisory_Lock::EXCLUSIVE, true, w, e);
  });
  a.release();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(granted.load());
  b.release();
  waiter.join();
  EXPECT_TRUE(granted.load());

  // The holder's session is killed: the lock is free, its release is
  // harmless, and the connections after it work.
  ASSERT_TRUE(Advisory_Lock::take(DB, "robot:L1", Advisory_Lock::EXCLUSIVE, true, x, error));
  {
    Connection_var killer = connect();
    // Only the session holding this test's lock: other tests share the server.
    Raw_SQL kill(
        "SELECT count(pg_terminate_backend(l.pid)) AS n FROM pg_locks l, (SELECT "
        "hashtextextended(current_schema() || '/robot:L1', 0) AS k) h WHERE l.locktype='advisory' "
        "AND l.objsubid=1 AND l.classid::bigint=((h.k >> 32) & 4294967295) AND "
        "l.objid::bigint=(h.k & 4294967295)");
    Result_Set r;
    ASSERT_TRUE(killer->query(kill, r)) << killer->last_error();
    ASSERT_EQ(json_spirit::Value(1LL), r.rows.at(0).at(0));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(Advisory_Lock::take(DB, "robot:L1", Advisory_Lock::EXCLUSIVE, false, a, error))
      << error;
  x.release();
  a.release();
  for (int i = 0; i < 3; ++i) {
    Connection_var c = connect();
    ASSERT_TRUE(c);
    EXPECT_GE(count(*c, "owner"), 0) << c->last_error();
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, Concurrency, testing::Values(SQLITE, POSTGRESQL), engine_name);

}  // namespace
}  // namespace database_test
