// Session-level advisory locks on PostgreSQL.
#include "database/advisory_lock.h"

#include <utility>

#include "database/manager.h"

namespace database {
namespace sql {

namespace {

// The 64-bit key of the advisory lock named by the bound parameter :key,
// hashed by the server (so that names of any length and content are safe).
const char* const LOCK_KEY = "hashtextextended(current_schema() || '/' || :key, 0)";

// One lock function applied to the key of the lock named :key.
class Lock_Statement : public SQL {
 public:
  Lock_Statement(const char* function, const std::string& key) : function_(function) {
    bind(":key", key);
  }
  std::string text(Dialect) const override {
    return std::string("SELECT ") + function_ + "(" + LOCK_KEY + ") AS ok";
  }

 private:
  const char* function_;
};

// The session's lock_timeout, in milliseconds.
class Lock_Timeout : public SQL {
 public:
  explicit Lock_Timeout(int ms) { bind(":ms", std::to_string(ms)); }
  std::string text(Dialect) const override {
    return "SELECT set_config('lock_timeout', :ms, false) AS ok";
  }
};

// The session's lock_timeout back to the server's setting.
class Default_Lock_Timeout : public SQL {
 public:
  std::string text(Dialect) const override {
    return "SELECT set_config('lock_timeout', reset_val, false) AS ok FROM pg_settings "
           "WHERE name = 'lock_timeout'";
  }
};

// Whether this session holds the lock named :key (in any mode): a lock
// request cancelled by lock_timeout may have been granted in the same
// instant, and the server keeps a session-level lock granted to a
// statement that then failed.
class Held_Here : public SQL {
 public:
  explicit Held_Here(const std::string& key) { bind(":key", key); }
  std::string text(Dialect) const override {
    return std::string(
               "SELECT EXISTS (SELECT 1 FROM pg_locks WHERE locktype = 'advisory' AND granted AND "
               "pid = pg_backend_pid() AND objsubid = 1 AND "
               "((classid::bigint << 32) | objid::bigint) = ") +
           LOCK_KEY + ") AS ok";
  }
};

// The SQLSTATE of a lock request that waited its lock_timeout out.
const char* const LOCK_NOT_AVAILABLE = "55P03";

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

void Advisory_Lock::hold(const Connection_var& connection, const std::string& key, Mode mode) {
  connection_ = connection;
  key_ = key;
  mode_ = mode;
  held_ = true;
}

bool Advisory_Lock::connect(const std::string& database, const std::string& key, Mode mode,
                            Advisory_Lock& out, Connection_var& connection, std::string& error) {
  out.release();
  error.clear();
  connection = Connection_var();
  if (Legacy_Manager::instance()->location_kind(database) == Location::SQLITE) {
    // One process owns the file: nobody to exclude, nothing to connect.
    out.hold(Connection_var(), key, mode);
    return true;
  }
  Connection_var c = Legacy_Manager::instance()->get_connection_r(database);
  if (!c) {
    error = "cannot connect to database '" + database + "'";
    return false;
  }
  if (c->dialect() != DIALECT_POSTGRESQL) {
    out.hold(Connection_var(), key, mode);
    return true;
  }
  connection = c;
  return true;
}

bool Advisory_Lock::take(const std::string& database, const std::string& key, Mode mode, bool wait,
                         Advisory_Lock& out, std::string& error) {
  Connection_var connection;
  if (!connect(database, key, mode, out, connection, error)) return false;
  if (!connection) return true;
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
  out.hold(connection, key, mode);
  return true;
}

bool Advisory_Lock::take_waiting(const std::string& database, const std::string& key, Mode mode,
                                 int round_ms, const std::function<bool()>& keep_waiting,
                                 Advisory_Lock& out, std::string& error) {
  Connection_var connection;
  if (!connect(database, key, mode, out, connection, error)) return false;
  if (!connection) return true;
  Result_Set result;
  if (!connection->query(Lock_Timeout(round_ms > 0 ? round_ms : 1), result)) {
    error = connection->last_error();
    connection->discard();
    return false;
  }
  Lock_Statement lock(function_for(mode, true), key);
  bool held = false;
  for (;;) {
    if (connection->query(lock, result)) {
      held = true;
      break;
    }
    if (connection->last_state() != LOCK_NOT_AVAILABLE) {
      error = connection->last_error();
      break;
    }
    // Granted as the time-out struck: held once, as if it had answered.
    // Asking again would take it a second time, and one release would
    // then leave the session holding it after the connection went back to
    // the pool.
    if (!connection->query(Held_Here(key), result)) {
      error = connection->last_error();
      break;
    }
    if (granted(result)) {
      held = true;
      break;
    }
    if (keep_waiting && !keep_waiting()) break;
  }
  // The pool's next users of this connection wait as the server says.
  if (!connection->query(Default_Lock_Timeout(), result)) {
    if (error.empty() && !held) error = connection->last_error();
    connection->discard();  // closed when let go, with whatever it holds
  }
  if (!error.empty()) {
    // The lock may have been granted just before the connection failed.
    connection->discard();
    return false;
  }
  if (held) out.hold(connection, key, mode);
  return held;
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
