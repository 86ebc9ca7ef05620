// SQLite engine.
#include "database/sqlite_connection.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>

namespace database {
namespace sql {

namespace {

bool declared_bool(const char* decl) {
  if (!decl) return false;
  std::string d;
  for (const char* p = decl; *p; ++p)
    d += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return d.find("bool") != std::string::npos;
}

json_spirit::Value column_value(sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER: {
      sqlite3_int64 v = sqlite3_column_int64(st, i);
      if (declared_bool(sqlite3_column_decltype(st, i))) return json_spirit::Value(v != 0);
      return json_spirit::Value(static_cast<long long>(v));
    }
    case SQLITE_FLOAT:
      return json_spirit::Value(sqlite3_column_double(st, i));
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* p = sqlite3_column_blob(st, i);
      int n = sqlite3_column_bytes(st, i);
      return json_spirit::Value(std::string(p ? static_cast<const char*>(p) : "", n));
    }
    default:
      return json_spirit::Value();
  }
}

int bind_value(sqlite3_stmt* st, int i, const Binding_Value& v) {
  switch (v.kind()) {
    case Binding_Value::BV_NULL:
      return sqlite3_bind_null(st, i);
    case Binding_Value::BV_BOOL:
    case Binding_Value::BV_INT:
      return sqlite3_bind_int64(st, i, v.as_int());
    case Binding_Value::BV_REAL:
      return sqlite3_bind_double(st, i, v.as_real());
    case Binding_Value::BV_TEXT:
      return sqlite3_bind_text64(st, i, v.as_text().data(), v.as_text().size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8);
  }
  return SQLITE_MISUSE;
}

}  // namespace

Sqlite_Connection::Sqlite_Connection(const std::string& name, sqlite3* db)
    : Connection(name, DIALECT_SQLITE), db_(db) {}

Sqlite_Connection::~Sqlite_Connection() {
  for (auto& e : lru_) sqlite3_finalize(e.second);
  sqlite3_close_v2(db_);
}

std::unique_ptr<Connection> Sqlite_Connection::open(const std::string& name,
                                                    const std::string& path, int busy_timeout_ms,
                                                    std::string& error) {
  struct stat st;
  bool created = ::stat(path.c_str(), &st) != 0;
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    error = "cannot open SQLite database '" + path +
            "': " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, busy_timeout_ms);
  std::unique_ptr<Sqlite_Connection> c(new (std::nothrow) Sqlite_Connection(name, db));
  if (!c) {
    sqlite3_close_v2(db);
    error = "out of memory";
    return nullptr;
  }
  // WAL lets readers run beside one writer; NORMAL sync is safe with WAL
  // (a power cut may lose the last commits, never consistency).
  std::string e;
  if (!c->run_script("PRAGMA foreign_keys=ON; PRAGMA journal_mode=WAL; "
                     "PRAGMA synchronous=NORMAL",
                     e)) {
    error = "cannot set up SQLite database '" + path + "': " + e;
    return nullptr;
  }
  // The inventory is for the service alone (its journals copy this mode).
  if (created) ::chmod(path.c_str(), 0600);
  return std::unique_ptr<Connection>(c.release());
}

sqlite3_stmt* Sqlite_Connection::prepared(const std::string& text, std::string& error) {
  auto it = index_.find(text);
  if (it != index_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return it->second->second;
  }
  sqlite3_stmt* st = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v3(db_, text.c_str(), static_cast<int>(text.size()) + 1,
                              SQLITE_PREPARE_PERSISTENT, &st, &tail);
  if (rc != SQLITE_OK || !st) {
    error = sqlite3_errmsg(db_);
    if (rc == SQLITE_OK) error = "no statement in text";
    sqlite3_finalize(st);
    return nullptr;
  }
  while (tail && std::isspace(static_cast<unsigned char>(*tail))) ++tail;
  if (tail && *tail) {
    // One statement per call: a second one would be silently ignored.
    sqlite3_finalize(st);
    error = "more than one statement in text";
    return nullptr;
  }
  lru_.emplace_front(text, st);
  index_[text] = lru_.begin();
  if (lru_.size() > STATEMENT_CACHE_SIZE) {
    sqlite3_finalize(lru_.back().second);
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
  return st;
}

bool Sqlite_Connection::run(const std::string& text, const Bindings& params, bool is_insert,
                            Result_Set* out, std::int64_t& last_id, long long& changes,
                            std::string& error) {
  sqlite3_stmt* st = prepared(text, error);
  if (!st) return false;
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  int count = sqlite3_bind_parameter_count(st);
  for (int i = 1; i <= count; ++i) {
    const char* pname = sqlite3_bind_parameter_name(st, i);
    if (!pname) {
      error = "positional parameters are not supported";
      return false;
    }
    auto p = params.find(pname);
    if (p == params.end()) {
      error = std::string("parameter ") + pname + " is not bound";
      return false;
    }
    if (bind_value(st, i, p->second) != SQLITE_OK) {
      error = sqlite3_errmsg(db_);
      return false;
    }
  }
  if (out) {
    out->columns.clear();
    out->rows.clear();
  }
  int rc;
  bool named = false;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    if (!out) continue;
    int n = sqlite3_column_count(st);
    // Names are read after the first step: a statement prepared before a
    // schema change is prepared again by it, and "*" may then mean more.
    if (!named) {
      for (int i = 0; i < n; ++i) {
        const char* cn = sqlite3_column_name(st, i);
        out->columns.push_back(cn ? cn : "");
      }
      named = true;
    }
    std::vector<json_spirit::Value> row;
    row.reserve(n);
    for (int i = 0; i < n; ++i) row.push_back(column_value(st, i));
    out->rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    error = sqlite3_errmsg(db_);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    return false;
  }
  if (out && !named) {
    int n = sqlite3_column_count(st);
    for (int i = 0; i < n; ++i) {
      const char* cn = sqlite3_column_name(st, i);
      out->columns.push_back(cn ? cn : "");
    }
  }
  changes = sqlite3_changes64(db_);
  last_id = is_insert ? sqlite3_last_insert_rowid(db_) : -1;
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);  // drop copies of bound values
  return true;
}

bool Sqlite_Connection::run_script(const std::string& script, std::string& error) {
  char* msg = nullptr;
  int rc = sqlite3_exec(db_, script.c_str(), nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) {
    error = msg ? msg : sqlite3_errstr(rc);
    sqlite3_free(msg);
    return false;
  }
  return true;
}

std::string Sqlite_Connection::begin_text(bool read_only) const {
  return read_only ? "BEGIN DEFERRED" : "BEGIN IMMEDIATE";
}

}  // namespace sql
}  // namespace database
