// The connections of one database name: idle ones kept for reuse, new ones
// opened on demand, the schema brought up to date before the first is
// handed out. Internal to the layer; callers use Legacy_Manager.
#ifndef DATABASE_CONNECTION_POOL_H
#define DATABASE_CONNECTION_POOL_H

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/connection.h"
#include "database/manager.h"
#include "database/metadata.h"

namespace database {
namespace sql {

class Connection_Pool : public std::enable_shared_from_this<Connection_Pool> {
 public:
  // Idle connections kept; more may be open at once, the rest close on
  // release.
  enum { MAX_IDLE = 16 };

  Connection_Pool(const std::string& name, const Location& where,
                  std::shared_ptr<Metadata> metadata, int busy_timeout_ms);
  ~Connection_Pool();

  // An idle connection or a new one; empty with `error` set when the
  // database cannot be opened or its schema cannot be brought up to date.
  Connection_var acquire(std::string& error);
  // Takes back a connection whose last handle went (Connection calls it).
  // One that lost its server closes, and every idle one with it.
  void give_back(Connection* c);
  // Closes the idle connections; those in use close when released.
  void close();
  // Replaces the schema; it is applied before the next connection is
  // handed out.
  void set_metadata(std::shared_ptr<Metadata> metadata);

  const Location& location() const { return where_; }

 private:
  std::unique_ptr<Connection> open_one(std::string& error);

  const std::string name_;
  const Location where_;
  const int busy_timeout_ms_;

  std::mutex mutex_;  // guards idle_, closed_
  std::vector<std::unique_ptr<Connection>> idle_;
  bool closed_ = false;

  std::mutex schema_mutex_;  // guards metadata_, schema_ready_; held during set-up
  std::shared_ptr<Metadata> metadata_;
  bool schema_ready_ = false;
};

// While one of these lives in a thread, fault plans do not fire there
// (the layer's own schema work is not what a test means to break).
class Fault_Suppressor {
 public:
  Fault_Suppressor();
  ~Fault_Suppressor();
  Fault_Suppressor(const Fault_Suppressor&) = delete;
  Fault_Suppressor& operator=(const Fault_Suppressor&) = delete;
  static bool active();
};

// Creates `dir` and its missing parents; the last directory gets mode
// 0700, parents 0755. True when it exists as a directory afterwards.
bool make_private_dir(const std::string& dir, std::string& error);

}  // namespace sql
}  // namespace database

#endif
