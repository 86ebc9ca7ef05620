// A lock that several processes sharing one database take by name: on
// PostgreSQL a session-level advisory lock, held on a connection of its own
// for as long as the Advisory_Lock lives. When the process dies or its
// connection drops, the server ends the session and the lock goes with it,
// so a dead holder never blocks the others for longer than the server takes
// to notice the closed connection.
//
// Names are scoped to the database and its current schema. Shared holders
// run together; an exclusive holder excludes every other holder. Waiting
// requests are granted by the server in the order they reached it: a
// shared request that arrives while an exclusive one waits queues behind
// it, so a stream of shared holders never starves an exclusive request.
//
// On an engine that one process owns alone (SQLite), take() gives a held
// lock that holds nothing: there is nobody to exclude.
#ifndef DATABASE_ADVISORY_LOCK_H
#define DATABASE_ADVISORY_LOCK_H

#include <functional>
#include <string>

#include "database/connection.h"

namespace database {
namespace sql {

class Advisory_Lock {
 public:
  enum Mode { SHARED, EXCLUSIVE };

  Advisory_Lock() = default;
  ~Advisory_Lock() { release(); }
  Advisory_Lock(Advisory_Lock&& other) noexcept;
  Advisory_Lock& operator=(Advisory_Lock&& other) noexcept;
  Advisory_Lock(const Advisory_Lock&) = delete;
  Advisory_Lock& operator=(const Advisory_Lock&) = delete;

  // Takes the lock `key` of database `database` in `mode` on a new or
  // pooled connection. With `wait` true, waits for conflicting holders
  // (the server's queue); with `wait` false, gives up at once. True with
  // `out` held on success; false with `out` not held when the lock is
  // busy (`wait` false: `error` stays empty) or when the database cannot
  // be reached or refuses (`error` says why). Nothing is logged.
  static bool take(const std::string& database, const std::string& key, Mode mode, bool wait,
                   Advisory_Lock& out, std::string& error);
  // Takes the lock waiting in rounds: each request waits at most
  // `round_ms` in the server's queue (its lock_timeout), and between rounds
  // `keep_waiting` is asked (never while a request waits); the wait ends
  // when it answers false. A request whose round ended leaves the server's
  // queue and the next one joins it at its end, so a request that reaches
  // the server in the moment between two rounds may be granted first;
  // otherwise the order is the server's. True with `out` held when
  // granted; false with `out` not held and `error` empty when
  // `keep_waiting` gave up, or with `error` saying why when the database
  // cannot be reached or refuses. Nothing is logged.
  static bool take_waiting(const std::string& database, const std::string& key, Mode mode,
                           int round_ms, const std::function<bool()>& keep_waiting,
                           Advisory_Lock& out, std::string& error);

  bool held() const { return held_; }
  // Releases the lock now (nothing when not held). The connection returns
  // to the pool only when the server confirmed the release; otherwise it
  // is closed, which ends the session and the lock with it.
  void release();

 private:
  // The connection to lock on: false with `error` when there is none;
  // true with `connection` null and `out` held when the engine needs no
  // lock (one process owns it).
  static bool connect(const std::string& database, const std::string& key, Mode mode,
                      Advisory_Lock& out, Connection_var& connection, std::string& error);
  void hold(const Connection_var& connection, const std::string& key, Mode mode);

  Connection_var connection_;  // null for an engine without advisory locks
  std::string key_;
  Mode mode_ = SHARED;
  bool held_ = false;
};

}  // namespace sql
}  // namespace database

#endif
