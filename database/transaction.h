// A transaction on one connection: begun with begin(), made durable with
// commit(), rolled back when it goes out of scope uncommitted.
//
//   database::Transaction t(conn);
//   if (!t.begin(false)) return false;
//   if (!conn->execute(a) || !conn->execute(b)) return false;  // rolled back
//   return t.commit();
#ifndef DATABASE_TRANSACTION_H
#define DATABASE_TRANSACTION_H

#include "database/connection.h"

namespace database {

class Transaction {
 public:
  // Holds a reference to the connection for its whole life.
  explicit Transaction(const sql::Connection_var& connection);
  explicit Transaction(sql::Connection& connection);
  // Rolls back a transaction that was begun and not committed.
  ~Transaction();

  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Starts the transaction. read_only false: a write transaction that
  // takes the database's write lock at once (waiting for other writers up
  // to the busy timeout). True on success; false when there is no
  // connection, a transaction is already open on it, or the engine fails.
  bool begin(bool read_only = false);
  // Commits; true on success. After a failed commit the transaction is
  // rolled back (by the engine or by the destructor).
  bool commit();
  // Rolls back now; true on success or when nothing is open.
  bool rollback();
  bool active() const { return active_; }

 private:
  sql::Connection_var connection_;
  bool active_ = false;
};

}  // namespace database

#endif
