// The connection manager: one pool of connections per database name.
//
//   Connection_var c = Legacy_Manager::instance()->get_connection_r("media_controller");
//   if (!c) ... // unreachable, misconfigured or refused (see last_error)
//
// Where a database lives (first match wins):
//   1. configure(url) called by the program (tests);
//   2. the environment variable D2T_DATABASE_URL;
//   3. the key of that name in the JSON object of the configuration file,
//      D2T_DATABASE_CONF or "/etc/opt/quillon/kestrel3/$COMPONENT/database.conf";
//   4. SQLite file "<state dir>/<name>.db", the state dir being D2T_STATE_DIR
//      or "/var/opt/quillon/kestrel3/$COMPONENT" ($COMPONENT from the
//      environment, "tapemgr" when unset).
// A location is one of:
//   "sqlite:/path/file.db"  that file (every name configured this way that
//                           names the same file shares it);
//   "sqlite:/path/dir/"     a trailing "/" (or an existing directory): the
//                           file "<name>.db" inside it;
//   "/path/..."             as "sqlite:/path/...";
//   "postgresql://..." or "postgres://..." or a libpq "key=value ..." string:
//                           a PostgreSQL server.
// The directory of an SQLite file is created when missing, mode 0700; a
// new database file gets mode 0600.
//
// Schema: before the first connection to a name is handed out, the layer
// brings the database to the version of that name's Metadata (created,
// upgraded, or refused when newer: get_connection_r then returns empty and
// logs the reason once). The Metadata is the one registered with
// register_metadata(); failing that, the exported factory
// "_make_<Name>_Metadata" found with dlsym(RTLD_DEFAULT) ("media_controller"
// -> "_make_Media_Controller_Metadata"); failing that, no schema is managed.
//
// SQLite connections: foreign keys on, write-ahead logging, a busy timeout
// (writers wait for each other instead of failing), prepared statements
// cached per connection. PostgreSQL connections: named parameters become
// $n, inserts return the new row, booleans are booleans.
//
// Thread-safe: any thread may take and drop connections.
#ifndef DATABASE_MANAGER_H
#define DATABASE_MANAGER_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "database/connection.h"
#include "database/fault_plan.h"
#include "database/metadata.h"

namespace database {
namespace sql {

class Connection_Pool;

// Where a database lives, resolved from a location text.
struct Location {
  enum Kind { NONE, SQLITE, POSTGRESQL };
  Kind kind = NONE;
  std::string target;  // SQLite file path or libpq connection string

  // Resolves `text` for database `name`; NONE when `text` is not understood.
  static Location parse(const std::string& text, const std::string& name);
};

class Legacy_Manager {
 public:
  // The process-wide manager (created on first use, thread-safe).
  static Legacy_Manager* instance();

  // A connection to database `name`, from its pool or newly opened; empty
  // when the database cannot be reached, its configuration is unreadable
  // or its schema cannot be brought up to date (see last_error(name)).
  // Such a failure is logged (LM_ERROR "Failed to open database '%s': %s")
  // once per distinct reason, not on every call.
  Connection_var get_connection_r(const std::string& name);

  // Declares the schema of `metadata->name()` (replacing an earlier one).
  // Call before the first connection to that name; the schema is applied
  // before the next connection to that name is handed out. Null is
  // ignored.
  void register_metadata(std::shared_ptr<Metadata> metadata);

  // Points every database name at `url` (a location text as above),
  // overriding the environment and the configuration file, and drops the
  // pools. An empty url removes the override. False when `url` is not
  // understood (the override is then unchanged).
  bool configure(const std::string& url);

  // Drops every pool (connections in use close when released), the
  // configure() override, the fault plan and the remembered errors, so the
  // next connection reads the environment again. Registered metadata is
  // kept. For tests switching databases between cases.
  void reset_for_testing();

  // The location text that name resolves to now (for messages and tests;
  // passwords are shown as "***").
  std::string location_of(const std::string& name);
  // The engine that name resolves to now (NONE when it cannot be
  // resolved); connects to nothing.
  Location::Kind location_kind(const std::string& name);
  // Why the last get_connection_r(name) failed; empty after a success.
  std::string last_error(const std::string& name);

  // Fault injection (fault_plan.h).
  void set_fault_plan(const Fault_Plan& plan);
  void clear_fault_plan();
  // How many faults the current plan injected.
  int faults_fired();
  // Called by connections before each operation: true when it must fail.
  bool should_fail(int operation, const std::string& text);

  // Busy timeout of new SQLite connections, in milliseconds (default
  // 30000).
  void set_busy_timeout_ms(int ms);
  int busy_timeout_ms();

 private:
  Legacy_Manager();
  std::shared_ptr<Connection_Pool> pool_for(const std::string& name, std::string& error);
  std::string resolve(const std::string& name, std::string& error);
  std::shared_ptr<Metadata> metadata_for(const std::string& name);

  std::mutex mutex_;  // guards everything below
  std::map<std::string, std::shared_ptr<Connection_Pool>> pools_;
  std::map<std::string, std::shared_ptr<Metadata>> metadata_;
  std::map<std::string, std::string> errors_;
  std::string override_url_;
  int busy_timeout_ms_ = 30000;

  std::mutex fault_mutex_;  // guards the fault plan
  std::atomic<bool> plan_armed_{false};  // lets should_fail skip the lock
  Fault_Plan plan_;
  int plan_seen_ = 0;
  int plan_fired_ = 0;
};

}  // namespace sql
}  // namespace database

#endif
