// Per-name pool of connections.
#include "database/connection_pool.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "database/pg_connection.h"
#include "database/sqlite_connection.h"

namespace database {
namespace sql {

namespace {
thread_local int suppress_faults = 0;
}

Fault_Suppressor::Fault_Suppressor() { ++suppress_faults; }
Fault_Suppressor::~Fault_Suppressor() { --suppress_faults; }
bool Fault_Suppressor::active() { return suppress_faults > 0; }

bool make_private_dir(const std::string& dir, std::string& error) {
  if (dir.empty()) return true;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    error = "'" + dir + "' is not a directory";
    return false;
  }
  std::string::size_type slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    std::string parent = dir.substr(0, slash);
    if (::stat(parent.c_str(), &st) != 0) {
      // Parents are ordinary directories; only the last one is private.
      std::string::size_type p = 0;
      while ((p = parent.find('/', p + 1)) != std::string::npos) {
        ::mkdir(parent.substr(0, p).c_str(), 0755);
      }
      ::mkdir(parent.c_str(), 0755);
    }
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create directory '" + dir + "': " + std::strerror(errno);
    return false;
  }
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = "cannot create directory '" + dir + "'";
    return false;
  }
  return true;
}

Connection_Pool::Connection_Pool(const std::string& name, const Location& where,
                                 std::shared_ptr<Metadata> metadata, int busy_timeout_ms)
    : name_(name), where_(where), busy_timeout_ms_(busy_timeout_ms), metadata_(metadata) {}

Connection_Pool::~Connection_Pool() { close(); }

std::unique_ptr<Connection> Connection_Pool::open_one(std::string& error) {
  if (where_.kind == Location::POSTGRESQL) {
    return Pg_Connection::open(name_, where_.target, error);
  }
  if (where_.kind != Location::SQLITE) {
    error = "no location for database '" + name_ + "'";
    return nullptr;
  }
  std::string::size_type slash = where_.target.find_last_of('/');
  if (slash != std::string::npos && slash > 0 &&
      !make_private_dir(where_.target.substr(0, slash), error)) {
    return nullptr;
  }
  return Sqlite_Connection::open(name_, where_.target, busy_timeout_ms_, error);
}

Connection_var Connection_Pool::acquire(std::string& error) {
  std::unique_ptr<Connection> c;
  while (true) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (idle_.empty()) break;
      c = std::move(idle_.back());
      idle_.pop_back();
    }
    if (c->healthy()) break;
    c.reset();  // lost while idle (server restart): close it, try the next
  }
  if (!c) c = open_one(error);
  if (!c) return Connection_var();
  {
    std::lock_guard<std::mutex> lock(schema_mutex_);
    if (!schema_ready_) {
      Fault_Suppressor quiet;
      if (metadata_ && !metadata_->init(*c, error)) return Connection_var();
      schema_ready_ = true;
    }
  }
  c->pool_ = weak_from_this();
  return Connection_var(c.release());
}

void Connection_Pool::give_back(Connection* c) {
  std::unique_ptr<Connection> owned(c);
  if (!c->healthy()) {
    // The server went away (restart, network): the idle connections went
    // with it. Close them all, so the next callers open fresh ones instead
    // of each failing on a dead one.
    std::vector<std::unique_ptr<Connection>> dead;
    std::lock_guard<std::mutex> lock(mutex_);
    dead.swap(idle_);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || idle_.size() >= MAX_IDLE) return;  // closed when `owned` goes
  idle_.push_back(std::move(owned));
}

void Connection_Pool::close() {
  std::vector<std::unique_ptr<Connection>> idle;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    idle.swap(idle_);
  }
}

void Connection_Pool::set_metadata(std::shared_ptr<Metadata> metadata) {
  std::lock_guard<std::mutex> lock(schema_mutex_);
  metadata_ = metadata;
  schema_ready_ = false;
}

}  // namespace sql
}  // namespace database
