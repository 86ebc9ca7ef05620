// A connection to one database, taken from the manager's pool.
//
// Connections are reference counted through ACE_Intrusive_Auto_Ptr; when
// the last handle goes, the connection returns to its pool (or is closed
// when the pool is gone or full). A connection is used by one thread at a
// time: take one per operation, drop it on return.
//
// Results, not exceptions: execute() and the cursor report failure through
// their result; the engine's reason is in last_error(). Nothing here logs.
#ifndef DATABASE_CONNECTION_H
#define DATABASE_CONNECTION_H

#include <ace/Intrusive_Auto_Ptr.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/statement.h"

namespace database {
namespace sql {

class Connection_Pool;

// Rows read by a query, before any translation: for each column its name,
// and per row one JSON value per column (integers, reals, strings, null;
// booleans as JSON booleans where the engine knows the column is boolean).
struct Result_Set {
  std::vector<std::string> columns;
  std::vector<std::vector<json_spirit::Value>> rows;
};

class Connection {
 public:
  virtual ~Connection();

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs a statement that returns no rows (INSERT, UPDATE, DELETE, DDL).
  // True on success. After an INSERT, last_insert_id() gives the new row's
  // id. An update or delete that matches no row succeeds. False when the
  // statement is invalid, a parameter it uses is unbound, the engine
  // refuses it (constraint, type, syntax) or a fault is injected; the
  // reason is in last_error().
  bool execute(const SQL& statement);

  // Runs a statement that returns rows and stores all of them in `out`.
  // True on success (also with no rows). Used by Legacy_Cursor.
  bool query(const SQL& statement, Result_Set& out);

  // Runs SQL text of one or more statements without parameters (schema
  // scripts). True on success.
  bool execute_script(const std::string& script);

  // The 64-bit id of the row added by the last successful INSERT on this
  // connection; -1 when there is none.
  std::int64_t last_insert_id() const { return last_insert_id_; }
  // Rows changed by the last successful execute(); -1 before any.
  long long affected_rows() const { return affected_rows_; }
  // The reason of the last failure; empty after a success.
  const std::string& last_error() const { return last_error_; }
  // The SQLSTATE of the last failed statement when the engine gives one
  // (PostgreSQL); empty otherwise and after a success.
  const std::string& last_state() const { return last_state_; }

  // Transactions; prefer database::Transaction (transaction.h), which
  // rolls back when it goes out of scope uncommitted. begin(false) starts
  // a write transaction that takes the write lock at once (SQLite: BEGIN
  // IMMEDIATE; PostgreSQL: a transaction-scoped advisory lock), so write
  // transactions run one after the other: none fails half-way because
  // another writer got there first, and a read-modify-write inside one
  // loses no update. It waits for the busy timeout instead. begin(true)
  // takes no lock up front (SQLite: BEGIN DEFERRED); meant for reads.
  bool begin(bool read_only);
  bool commit();
  bool rollback();
  bool in_transaction() const { return in_transaction_; }

  // Closes this connection when its last handle goes instead of returning
  // it to the pool: for a connection left with session state that must
  // not reach the next user (a lock that could not be released).
  void discard() { discarded_ = true; }

  // The database name this connection was opened for, its SQL dialect.
  const std::string& name() const { return name_; }
  Dialect dialect() const { return dialect_; }

  // Reference counting for ACE_Intrusive_Auto_Ptr (null tolerated).
  static void intrusive_add_ref(Connection* c);
  static void intrusive_remove_ref(Connection* c);

 protected:
  Connection(const std::string& name, Dialect dialect);

  // Engine primitives. `text` is the statement in this connection's
  // dialect with named parameters; `params` every binding of the
  // statement. run() fills `out` when not null, `last_id` with the id of
  // an inserted row (-1 when none) and `changes` with the rows changed.
  virtual bool run(const std::string& text, const Bindings& params, bool is_insert, Result_Set* out,
                   std::int64_t& last_id, long long& changes, std::string& error) = 0;
  virtual bool run_script(const std::string& script, std::string& error) = 0;
  virtual std::string begin_text(bool read_only) const = 0;
  // False once the engine has lost the connection; the pool then closes
  // it instead of handing it out again. Checked when a connection is
  // returned to the pool and again before an idle one is handed out.
  virtual bool healthy() const { return true; }

  // Set by run() when a statement fails with an SQLSTATE.
  std::string last_state_;

 private:
  friend class Connection_Pool;
  bool run_statement(const SQL& statement, Result_Set* out, int op);
  bool run_control(const std::string& text, int op);

  std::string name_;
  Dialect dialect_;
  std::atomic<long> refcount_{0};
  std::weak_ptr<Connection_Pool> pool_;
  std::int64_t last_insert_id_ = -1;
  long long affected_rows_ = -1;
  std::string last_error_;
  bool in_transaction_ = false;
  std::atomic<bool> discarded_{false};
};

typedef ACE_Intrusive_Auto_Ptr<Connection> Connection_var;

}  // namespace sql
}  // namespace database

#endif
