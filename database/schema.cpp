// Creating and upgrading a database from its Metadata, with the version
// kept in the bookkeeping table "database_schema".
#include <set>

#include "database/connection.h"
#include "database/cursor.h"
#include "database/metadata.h"

namespace database {
namespace sql {

namespace {

const char* const BOOKKEEPING_SQL =
    "CREATE TABLE IF NOT EXISTS database_schema ("
    "name VARCHAR(128) NOT NULL PRIMARY KEY, "
    "version INTEGER NOT NULL)";

bool table_exists(Connection& c, const std::string& table, bool& exists, std::string& error) {
  Raw_SQL q(c.dialect() == DIALECT_SQLITE
                ? "SELECT name FROM sqlite_master WHERE type='table' AND name=:name"
                : "SELECT table_name FROM information_schema.tables "
                  "WHERE table_schema=current_schema() AND table_name=:name");
  q.bind(":name", table);
  Legacy_Cursor cur(c, q, GM_ORM_FIRST_ROW, 0);
  if (!cur.ok()) {
    error = "cannot list tables: " + cur.error();
    return false;
  }
  exists = !cur.eof();
  return true;
}

bool column_names(Connection& c, const std::string& table, std::set<std::string>& names,
                  std::string& error) {
  Raw_SQL q(c.dialect() == DIALECT_SQLITE
                ? "SELECT name FROM pragma_table_info(:name)"
                : "SELECT column_name FROM information_schema.columns "
                  "WHERE table_schema=current_schema() AND table_name=:name");
  q.bind(":name", table);
  Legacy_Cursor cur(c, q, GM_ROWS, 0);
  if (!cur.ok()) {
    error = "cannot list columns of " + table + ": " + cur.error();
    return false;
  }
  std::string n;
  while (cur >> n) names.insert(n);
  return true;
}

// Reads the recorded version; -1 when none is recorded.
bool recorded_version(Connection& c, const std::string& name, long& version, std::string& error) {
  Select_SQL q("database_schema", nullptr);
  q.select("version").where("name=:name").bind(":name", name);
  Legacy_Cursor cur(c, q, GM_FIRST_VAL, 0);
  if (!cur.ok()) {
    error = "cannot read the schema version: " + cur.error();
    return false;
  }
  version = -1;
  cur >> version;
  return true;
}

bool record_version(Connection& c, const std::string& name, int version, bool exists,
                    std::string& error) {
  bool ok;
  if (exists) {
    Update_SQL u("database_schema");
    u.set("version", version).where("name=:name").bind(":name", name);
    ok = c.execute(u);
  } else {
    Insert_SQL i("database_schema");
    i.value("name", name).value("version", version);
    ok = c.execute(i);
  }
  if (!ok) error = "cannot record the schema version: " + c.last_error();
  return ok;
}

}  // namespace

bool Metadata::init(Connection& c, std::string& error) {
  std::string declared = errors();
  if (!declared.empty()) {
    error = "schema of database '" + name_ + "' is declared wrongly: " + declared;
    return false;
  }
  if (!c.begin(false)) {
    error = "cannot begin the schema transaction: " + c.last_error();
    return false;
  }
  long recorded = -1;
  bool ok = c.execute_script(BOOKKEEPING_SQL);
  if (!ok) error = "cannot create the schema bookkeeping table: " + c.last_error();
  ok = ok && recorded_version(c, name_, recorded, error);
  if (ok && recorded > version_) {
    error = "database '" + name_ + "' has schema version " + std::to_string(recorded) +
            ", newer than version " + std::to_string(version_) +
            " that this program knows; refusing to use it";
    ok = false;
  }
  if (ok && recorded < version_) {
    bool any_table = false;
    for (const auto& t : tables_) {
      bool exists = false;
      if (!table_exists(c, t->name(), exists, error)) {
        ok = false;
        break;
      }
      any_table = any_table || exists;
    }
    if (ok && recorded < 0 && !any_table) {
      ok = c.execute_script(get_create_script(c.dialect()));
      if (!ok) error = "cannot create the tables of '" + name_ + "': " + c.last_error();
    } else if (ok) {
      // An older database, or tables made before versions were recorded.
      ok = update_i(c, recorded < 0 ? 0 : static_cast<int>(recorded), error);
    }
    ok = ok && record_version(c, name_, version_, recorded >= 0, error);
  }
  if (!ok) {
    c.rollback();
    return false;
  }
  if (!c.commit()) {
    error = "cannot commit the schema of '" + name_ + "': " + c.last_error();
    return false;
  }
  return true;
}

bool Metadata::update_i(Connection& c, int, std::string& error) {
  const Dialect d = c.dialect();
  for (const auto& t : tables_) {
    bool exists = false;
    if (!table_exists(c, t->name(), exists, error)) return false;
    if (!exists) {
      if (!c.execute_script(get_template_table_sql(*t, d))) {
        error = "cannot create table " + t->name() + ": " + c.last_error();
        return false;
      }
      continue;
    }
    std::set<std::string> have;
    if (!column_names(c, t->name(), have, error)) return false;
    for (const Column& col : t->columns()) {
      if (have.count(col.name)) continue;
      if (col.primary || col.unique || col.autoincrement) {
        error = "cannot add key column " + col.name + " to existing table " + t->name();
        return false;
      }
      if (col.not_null && !col.has_default) {
        error =
            "cannot add NOT NULL column " + col.name + " without a default to table " + t->name();
        return false;
      }
      std::string sql =
          "ALTER TABLE " + t->name() + " ADD COLUMN " + col.name + " " + column_sql(col, d);
      if (!c.execute_script(sql)) {
        error = "cannot add column " + col.name + " to table " + t->name() + ": " + c.last_error();
        return false;
      }
    }
    for (const auto& u : t->unique_keys()) {
      std::string index = t->name();
      std::string cols;
      for (const std::string& n : u) {
        index += "_" + n;
        cols += (cols.empty() ? "" : ", ") + n;
      }
      index += "_key";
      std::string sql =
          "CREATE UNIQUE INDEX IF NOT EXISTS " + index + " ON " + t->name() + " (" + cols + ")";
      if (!c.execute_script(sql)) {
        error =
            "cannot add unique key (" + cols + ") to table " + t->name() + ": " + c.last_error();
        return false;
      }
    }
  }
  return true;
}

}  // namespace sql
}  // namespace database
