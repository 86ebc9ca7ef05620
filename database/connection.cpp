// Engine-independent part of a connection: statement checks, fault
// injection, transaction state and the return to the pool.
#include "database/connection.h"

#include "database/connection_pool.h"
#include "database/fault_plan.h"
#include "database/manager.h"

namespace database {
namespace sql {

Connection::Connection(const std::string& name, Dialect dialect) : name_(name), dialect_(dialect) {}

Connection::~Connection() = default;

bool Connection::run_statement(const SQL& statement, Result_Set* out, int op) {
  last_error_.clear();
  last_state_.clear();
  if (statement.invalid()) {
    last_error_ = statement.error();
    return false;
  }
  std::string text = statement.text(dialect_);
  if (text.empty()) {
    last_error_ = "empty statement";
    return false;
  }
  if (Legacy_Manager::instance()->should_fail(op, text)) {
    last_error_ = "injected fault";
    return false;
  }
  std::int64_t id = -1;
  long long changes = 0;
  std::string error;
  if (!run(text, statement.all_bindings(), statement.is_insert(), out, id, changes, error)) {
    last_error_ = error.empty() ? "statement failed" : error;
    return false;
  }
  if (statement.is_insert()) last_insert_id_ = id;
  affected_rows_ = changes;
  return true;
}

bool Connection::execute(const SQL& statement) {
  return run_statement(statement, nullptr, Fault_Plan::OP_EXECUTE);
}

bool Connection::query(const SQL& statement, Result_Set& out) {
  Result_Set rows;
  if (!run_statement(statement, &rows, Fault_Plan::OP_QUERY)) return false;
  out = std::move(rows);
  return true;
}

bool Connection::execute_script(const std::string& script) {
  last_error_.clear();
  std::string error;
  if (!run_script(script, error)) {
    last_error_ = error.empty() ? "script failed" : error;
    return false;
  }
  return true;
}

bool Connection::run_control(const std::string& text, int op) {
  last_error_.clear();
  if (Legacy_Manager::instance()->should_fail(op, text)) {
    last_error_ = "injected fault";
    return false;
  }
  std::string error;
  if (!run_script(text, error)) {
    last_error_ = error.empty() ? text + " failed" : error;
    return false;
  }
  return true;
}

bool Connection::begin(bool read_only) {
  if (in_transaction_) {
    last_error_ = "a transaction is already open on this connection";
    return false;
  }
  if (!run_control(begin_text(read_only), Fault_Plan::OP_BEGIN)) {
    // The begin text may be several statements; make sure none is left open.
    std::string ignored;
    run_script("ROLLBACK", ignored);
    return false;
  }
  in_transaction_ = true;
  return true;
}

bool Connection::commit() {
  if (!in_transaction_) {
    last_error_ = "no transaction is open on this connection";
    return false;
  }
  if (!run_control("COMMIT", Fault_Plan::OP_COMMIT)) {
    // Leave no half-open transaction behind, whatever the engine did.
    std::string saved = last_error_;
    rollback();
    last_error_ = saved;
    return false;
  }
  in_transaction_ = false;
  return true;
}

bool Connection::rollback() {
  if (!in_transaction_) return true;
  in_transaction_ = false;
  std::string error;
  if (!run_script("ROLLBACK", error)) {
    last_error_ = error;
    return false;
  }
  return true;
}

void Connection::intrusive_add_ref(Connection* c) {
  if (c) c->refcount_.fetch_add(1, std::memory_order_relaxed);
}

void Connection::intrusive_remove_ref(Connection* c) {
  if (!c) return;
  if (c->refcount_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  // Last handle gone: never pool a connection with an open transaction.
  if (c->in_transaction_) c->rollback();
  c->last_error_.clear();
  std::shared_ptr<Connection_Pool> pool = c->pool_.lock();
  if (pool && !c->discarded_) {
    pool->give_back(c);
  } else {
    delete c;
  }
}

}  // namespace sql
}  // namespace database
