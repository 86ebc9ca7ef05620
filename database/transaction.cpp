// database::Transaction: begin, commit, and roll back unless committed.
#include "database/transaction.h"

namespace database {

Transaction::Transaction(const sql::Connection_var& connection) : connection_(connection) {}

Transaction::Transaction(sql::Connection& connection) : connection_(&connection) {}

Transaction::~Transaction() { rollback(); }

bool Transaction::begin(bool read_only) {
  if (!connection_ || active_) return false;
  active_ = connection_->begin(read_only);
  return active_;
}

bool Transaction::commit() {
  if (!connection_ || !active_) return false;
  active_ = false;
  return connection_->commit();
}

bool Transaction::rollback() {
  if (!connection_ || !active_) return true;
  active_ = false;
  return connection_->rollback();
}

}  // namespace database
