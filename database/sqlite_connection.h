// SQLite engine: one database file, foreign keys on, write-ahead logging,
// a busy timeout, and a cache of prepared statements per connection.
#ifndef DATABASE_SQLITE_CONNECTION_H
#define DATABASE_SQLITE_CONNECTION_H

#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

#include "database/connection.h"

struct sqlite3;
struct sqlite3_stmt;

namespace database {
namespace sql {

class Sqlite_Connection : public Connection {
 public:
  // Opens (creating when missing) the file at `path` for database `name`.
  // The file's directory must exist. Null with `error` set on failure.
  static std::unique_ptr<Connection> open(const std::string& name, const std::string& path,
                                          int busy_timeout_ms, std::string& error);
  ~Sqlite_Connection() override;

  // Prepared statements kept per connection (least recently used go).
  enum { STATEMENT_CACHE_SIZE = 64 };

 protected:
  bool run(const std::string& text, const Bindings& params, bool is_insert, Result_Set* out,
           std::int64_t& last_id, long long& changes, std::string& error) override;
  bool run_script(const std::string& script, std::string& error) override;
  std::string begin_text(bool read_only) const override;

 private:
  Sqlite_Connection(const std::string& name, sqlite3* db);
  sqlite3_stmt* prepared(const std::string& text, std::string& error);

  sqlite3* db_;
  typedef std::list<std::pair<std::string, sqlite3_stmt*>> Lru;
  Lru lru_;  // most recently used first
  std::unordered_map<std::string, Lru::iterator> index_;
};

}  // namespace sql
}  // namespace database

#endif
