// Session-level advisory locks on PostgreSQL.
#include "database/advisory_lock.h"

#include <utility>

#include "database/manager.h"

namespace database {
namespace sql {

namespace {

// Fixed text around one bound parameter, the lock's name, hashed by the
// server into the 64-bit key of its advisory locks (so that names of any
// length and content are safe).
class Lock_Statement : public SQL {
 public:
  Lock_Statement(const char* function, const std::string& key) : function_(function) {
    bind(":key", key);
  }
  std::string text(Dialect) const override {
    return std::string("SELECT ") + function_ +
           "(hashtextextended(current_schema() || '/' || :key, 0)) AS ok";
  }

 private:
  const char* function_;
};

const char* function_for(Advisory_Lock::Mode mode, bool wait) {
  if (mode == Advisory_Lock::SHARED)
    return wait ? "pg_advisory_lock_shared" : "pg_try_advisory_lock_shared";
  return wait ? "pg_advisory_lock" : "pg_try_advisory_lock";
}

// The server's boolean answer (the waiting pg_advisory_lock answers void:
// having answered at all means granted).
bool granted(const Result_Set& r) {
  if (r.rows.size() != 1 || r.rows[0].size() != 1) return false;
  const json_spirit::Value& v = r.rows[0][0];
  return v.type() == json_spirit::bool_type && v.get_bool();
}

}  // namespace

Advisory_Lock::Advisory_Lock(Advisory_Lock&& other) noexcept
    : connection_(std::move(other.connection_)),
      key_(std::move(other.key_)),
      mode_(other.mode_),
      held_(other.held_) {
  other.held_ = false;
  other.connection_ = Connection_var();
}

Advisory_Lock& Advisory_Lock::operator=(Advisory_Lock&& other) noexcept {
  if (this != &other) {
    release();
    connection_ = std::move(other.connection_);
    key_ = std::move(other.key_);
    mode_ = other.mode_;
    held_ = other.held_;
    other.held_ = false;
    other.connection_ = Connection_var();
  }
  return *this;
}

bool Advisory_Lock::take(const std::string& database, const std::string& key, Mode mode, bool wait,
                         Advisory_Lock& out, std::string& error) {
  out.release();
  error.clear();
  if (Legacy_Manager::instance()->location_kind(database) == Location::SQLITE) {
    // One process owns the file: nobody to exclude, nothing to connect.
    out.key_ = key;
    out.mode_ = mode;
    out.held_ = true;
    return true;
  }
  Connection_var connection = Legacy_Manager::instance()->get_connection_r(database);
  if (!connection) {
    error = "cannot connect to database '" + database + "'";
    return false;
  }
  if (connection->dialect() != DIALECT_POSTGRESQL) {
    out.key_ = key;
    out.mode_ = mode;
    out.held_ = true;
    return true;
  }
  Lock_Statement lock(function_for(mode, wait), key);
  Result_Set result;
  if (!connection->query(lock, result)) {
    error = connection->last_error();
    // The lock may have been granted just before the connection failed:
    // never hand this session to anybody else.
    connection->discard();
    return false;
  }
  if (!wait && !granted(result)) return false;  // busy; the connection goes back clean
  out.connection_ = connection;
  out.key_ = key;
  out.mode_ = mode;
  out.held_ = true;
  return true;
}

void Advisory_Lock::release() {
  if (!held_) return;
  held_ = false;
  if (!connection_) return;
  Lock_Statement unlock(mode_ == SHARED ? "pg_advisory_unlock_shared" : "pg_advisory_unlock", key_);
  Result_Set result;
  if (!connection_->query(unlock, result) || !granted(result)) connection_->discard();
  connection_ = Connection_var();
}

}  // namespace sql
}  // namespace database
