// PostgreSQL engine: named parameters sent as $n with text values the server
// types itself, prepared statements cached per connection, inserts returning
// the new row for last_insert_id, booleans read as booleans.
#ifndef DATABASE_PG_CONNECTION_H
#define DATABASE_PG_CONNECTION_H

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "database/connection.h"

struct pg_conn;

namespace database {
namespace sql {

class Pg_Connection : public Connection {
 public:
  // Connects with a libpq connection string or URI. Null with `error`
  // set on failure.
  static std::unique_ptr<Connection> open(const std::string& name, const std::string& conninfo,
                                          std::string& error);
  ~Pg_Connection() override;

  enum { STATEMENT_CACHE_SIZE = 128 };

 protected:
  bool run(const std::string& text, const Bindings& params, bool is_insert, Result_Set* out,
           std::int64_t& last_id, long long& changes, std::string& error) override;
  bool run_script(const std::string& script, std::string& error) override;
  std::string begin_text(bool read_only) const override;
  bool healthy() const override;

 private:
  struct Prepared {
    std::string statement_name;
    std::vector<std::string> names;  // parameter of $(i+1)
  };

  Pg_Connection(const std::string& name, pg_conn* conn);
  const Prepared* prepare(const std::string& text, std::string& error);
  void forget(const std::string& text);

  pg_conn* conn_;
  std::unordered_map<std::string, Prepared> cache_;
  unsigned long next_statement_ = 0;
};

}  // namespace sql
}  // namespace database

#endif
