// Schema declaration: a Metadata names a database, its schema version and
// its tables; the layer creates the database from it on first use and
// upgrades an older one (see manager.h for registration).
//
//   class My_Metadata : public database::sql::Metadata {
//    public:
//     My_Metadata() : Metadata("my_db", 3, 0) {
//       database::sql::Table* t = add_table("thing");
//       t->add_column("id", "integer_id", "primary;autoincrement");
//       t->add_column("owner_id", "integer_id",
//                     "not_null;foreigner=owner(id),update cascade,delete cascade");
//       t->add_column("name", "varchar", "size=64;not_null;default=''");
//       t->add_column("flag", "bool", "not_null;default=0");
//       t->add_unique("owner_id,name");
//     }
//   };
//
// Column types: "integer_id" (64-bit row id), "integer" (32-bit),
// "bigint" (64-bit), "varchar" (text of at most size=N characters; no size:
// unbounded), "text", "real", "bool".
// Column options, items separated by ";":
//   primary                 the primary key
//   autoincrement           the database assigns the value on insert
//   size=N                  longest text of a varchar (enforced by both
//                           engines: a longer value is refused)
//   not_null                NULL refused
//   default=V               V, written as SQL ('' is the empty string), used
//                           when an insert gives no value; for a bool, 0 and
//                           1 mean false and true
//   foreigner=T(C),update A,delete A
//                           foreign key to T(C); A one of cascade,
//                           set null, set default, restrict, no action
//   unique                  the column alone is unique
// A column with no options (null or "") is nullable, no size, no default.
//
// Version bookkeeping: the table "database_schema" (name, version) records
// the version each Metadata created or upgraded. Opening a database whose
// recorded version is older runs update_i(); a newer one is refused.
#ifndef DATABASE_METADATA_H
#define DATABASE_METADATA_H

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "database/statement.h"

namespace database {
namespace sql {

class Connection;

struct Foreign_Key {
  enum Option { NO_ACTION, SET_DEFAULT, SET_NULL, CASCADE, RESTRICT };

  std::string table;
  std::string column;
  Option on_update = NO_ACTION;
  Option on_delete = NO_ACTION;

  // SQL words of an action ("CASCADE", "SET NULL", ...).
  static const char* option_sql(Option o);
  // Parses "cascade", "set null", "set_null", "no action", ... (any case).
  static bool parse_option(const std::string& text, Option& out);
};

enum Column_Type { CT_INTEGER_ID, CT_INTEGER, CT_BIGINT, CT_VARCHAR, CT_TEXT, CT_REAL, CT_BOOL };

// Column_Type from its name ("integer_id", "varchar", ...); false when
// unknown.
bool column_type_from_name(const std::string& name, Column_Type& out);

struct Column {
  std::string name;
  Column_Type type = CT_INTEGER;
  bool primary = false;
  bool autoincrement = false;
  bool not_null = false;
  bool unique = false;
  int size = 0;  // 0: no limit
  bool has_default = false;
  std::string default_sql;
  bool has_foreign_key = false;
  Foreign_Key foreign_key;

  // Parses an option string into this column; false (with `error` set)
  // on an unknown item or a malformed value.
  bool parse_options(const char* options, std::string& error);
};

class Table {
 public:
  explicit Table(const std::string& name) : name_(name) {}

  // Declares a column, in order. Returns the column, or null when the
  // name is not an identifier, the type or an option is not understood,
  // or the column exists; the reason is then in error().
  Column* add_column(const std::string& name, Column_Type type, const char* options);
  Column* add_column(const std::string& name, const char* type, const char* options);
  // Declares a unique key over comma-separated columns ("a,b"). False
  // when a column is not declared (yet) in this table.
  bool add_unique(const std::string& columns);

  const std::string& name() const { return name_; }
  const std::deque<Column>& columns() const { return columns_; }
  const Column* find_column(const std::string& name) const;
  const std::vector<std::vector<std::string>>& unique_keys() const { return uniques_; }
  // Errors met while declaring, one per line; empty when all was fine.
  const std::string& error() const { return error_; }

 private:
  std::string name_;
  std::deque<Column> columns_;  // deque: returned Column* stay valid
  std::vector<std::vector<std::string>> uniques_;
  std::string error_;
};

class Metadata {
 public:
  // `name` is the database name ("media_controller"), `version` the
  // schema version this declaration describes, `flags` reserved (0).
  Metadata(const std::string& name, int version, int flags);
  virtual ~Metadata();

  Metadata(const Metadata&) = delete;
  Metadata& operator=(const Metadata&) = delete;

  // Adds a table (owned by the metadata, valid as long as it lives), or
  // returns the existing one of that name; null when `name` is not an
  // identifier.
  Table* add_table(const std::string& name);

  const std::string& name() const { return name_; }
  int version() const { return version_; }
  int flags() const { return flags_; }
  const std::vector<std::unique_ptr<Table>>& tables() const { return tables_; }
  const Table* find_table(const std::string& name) const;
  // Declaration errors of every table; empty when all was fine.
  std::string errors() const;

  // Brings the database on `c` to this version, in one transaction: a
  // fresh database gets get_create_script() and the version recorded; an
  // older one gets update_i(); the same version is left alone; a newer one
  // is refused (false, `error` says why) and nothing is changed.
  virtual bool init(Connection& c, std::string& error);
  // Every CREATE TABLE (in declaration order, so referenced tables come
  // first), as one script.
  virtual std::string get_create_script(Dialect d) const;
  // DROP TABLE of every table, in reverse order, as one script.
  virtual std::string get_drop_script(Dialect d) const;
  // CREATE TABLE IF NOT EXISTS for one table.
  virtual std::string get_template_table_sql(const Table& t, Dialect d) const;
  // Upgrades a database recorded at `from_version`: creates missing tables,
  // adds missing columns (ALTER TABLE ... ADD COLUMN) and missing unique
  // keys (as unique indexes). Runs inside init()'s transaction. False when
  // a change cannot be made (e.g. a new NOT NULL column without default).
  virtual bool update_i(Connection& c, int from_version, std::string& error);

 private:
  std::string name_;
  int version_;
  int flags_;
  std::vector<std::unique_ptr<Table>> tables_;
};

// The SQL column definition of `col` in dialect `d` (without the name).
std::string column_sql(const Column& col, Dialect d);

}  // namespace sql
}  // namespace database

#endif
