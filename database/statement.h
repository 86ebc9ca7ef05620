// Statement builders of the SQL layer.
//
// A statement is built once, bound with named parameters (":name") and then
// executed through a Connection (connection.h) or read through a
// Legacy_Cursor (cursor.h). Values are always sent to the engine as bound
// parameters, never spliced into the SQL text, so quotes, semicolons or SQL
// text inside a value are stored and compared as plain data.
//
// Table names, column names and aliases are identifiers written by the
// program: letters, digits, "_" (and "." for qualified names). A builder
// given anything else marks the statement invalid, and executing it fails
// without reaching the database. Conditions (where, join) are SQL fragments
// written by the program; one trailing ";" is tolerated and dropped.
//
// Every builder method returns the builder itself so calls chain:
//   Select_SQL s("slot", "s");
//   s.select("id").where("changer_id=:changer_id").bind(":changer_id", id);
#ifndef DATABASE_STATEMENT_H
#define DATABASE_STATEMENT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "json_spirit/json_spirit_value.h"

namespace database {
namespace sql {

// The SQL flavour a statement is rendered in.
enum Dialect { DIALECT_SQLITE, DIALECT_POSTGRESQL };

// One value for a named parameter. Made from bool, the integer types,
// double, text or a JSON value; a default-made value, nullptr and JSON null
// bind SQL NULL. A JSON object or array binds its compact JSON text.
class Binding_Value {
 public:
  enum Kind { BV_NULL, BV_BOOL, BV_INT, BV_REAL, BV_TEXT };

  Binding_Value() = default;
  Binding_Value(std::nullptr_t) {}
  Binding_Value(bool b) : kind_(BV_BOOL), int_(b ? 1 : 0) {}
  Binding_Value(int i) : kind_(BV_INT), int_(i) {}
  Binding_Value(unsigned int i) : kind_(BV_INT), int_(i) {}
  Binding_Value(long i) : kind_(BV_INT), int_(i) {}
  Binding_Value(unsigned long i) : kind_(BV_INT), int_(static_cast<std::int64_t>(i)) {}
  Binding_Value(long long i) : kind_(BV_INT), int_(i) {}
  Binding_Value(unsigned long long i) : kind_(BV_INT), int_(static_cast<std::int64_t>(i)) {}
  Binding_Value(double d) : kind_(BV_REAL), real_(d) {}
  Binding_Value(const std::string& s) : kind_(BV_TEXT), text_(s) {}
  // A null pointer binds NULL.
  Binding_Value(const char* s);
  Binding_Value(const json_spirit::Value& v);

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == BV_NULL; }
  // BV_BOOL and BV_INT: the integer (0 or 1 for a bool).
  std::int64_t as_int() const { return int_; }
  double as_real() const { return real_; }
  const std::string& as_text() const { return text_; }
  // The value as the text PostgreSQL reads for it ("true"/"false" for a
  // bool, decimal for numbers). Meaningless for BV_NULL.
  std::string to_text() const;

  bool operator==(const Binding_Value& o) const;
  bool operator!=(const Binding_Value& o) const { return !(*this == o); }

 private:
  Kind kind_ = BV_NULL;
  std::int64_t int_ = 0;
  double real_ = 0.0;
  std::string text_;
};

// Named parameter -> value; the key keeps its leading ':'.
typedef std::map<std::string, Binding_Value> Bindings;

// Base of every statement: the named parameters and the rendering.
class SQL {
 public:
  virtual ~SQL();

  // Binds `name` (":name"; the ':' is added when missing) to `value`,
  // replacing an earlier binding of the same name, so a statement can be
  // bound and executed again with other values. A binding that the
  // statement text does not use is ignored; a parameter used in the text
  // but never bound makes execution fail.
  SQL& bind(const std::string& name, const Binding_Value& value);
  // Forgets every binding made with bind() (not the builders' own values).
  void clear_bindings() { bindings_.clear(); }

  // The statement text in `d`, with named parameters, as it is prepared.
  // Empty when the statement is invalid.
  virtual std::string text(Dialect d) const = 0;
  // True when a builder refused an identifier; the reason is in error().
  bool invalid() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

  // Every binding: those made with bind() and the builders' values
  // (inserted or set values, under names beginning ":_v").
  Bindings all_bindings() const;

  // True for an INSERT: on PostgreSQL the new row is returned so that
  // Connection::last_insert_id() can read its id.
  virtual bool is_insert() const { return false; }

 protected:
  SQL() = default;
  SQL(const SQL&) = default;
  SQL& operator=(const SQL&) = default;

  // Checks an identifier; on failure records the reason and returns false.
  bool check_identifier(const std::string& what, const std::string& name);
  // Stores a builder value under a fresh internal name and returns it.
  std::string add_value(const Binding_Value& v);
  static std::string trim_condition(const std::string& condition);

  std::string error_;

 private:
  Bindings bindings_;
  Bindings values_;
};

// A statement given as text, for what the builders do not cover
// (e.g. "DELETE FROM slot WHERE changer_id IN (SELECT ...)"). Named
// parameters work as for the builders. The text must be one statement.
class Raw_SQL : public SQL {
 public:
  // SQL::bind, returning this builder so calls chain on.
  Raw_SQL& bind(const std::string& name, const Binding_Value& value) {
    SQL::bind(name, value);
    return *this;
  }
  explicit Raw_SQL(const std::string& text) : text_(trim_condition(text)) {}
  std::string text(Dialect) const override { return text_; }

 private:
  std::string text_;
};

// INSERT INTO table (columns...) VALUES (...).
class Insert_SQL : public SQL {
 public:
  // SQL::bind, returning this builder so calls chain on.
  Insert_SQL& bind(const std::string& name, const Binding_Value& value) {
    SQL::bind(name, value);
    return *this;
  }
  explicit Insert_SQL(const std::string& table);

  // Column `column` (or `key` when `column` is null) takes the value
  // stored under `key` in `object`. When `object` has no `key`, the
  // column is left out, so it takes its declared default (or NULL).
  Insert_SQL& value(const json_spirit::Object& object, const std::string& key,
                    const char* column = nullptr);
  // Column `column` takes `v`.
  Insert_SQL& value(const std::string& column, const Binding_Value& v);

  std::string text(Dialect d) const override;
  bool is_insert() const override { return true; }

 private:
  std::string table_;
  std::vector<std::pair<std::string, std::string>> columns_;  // column, param
};

// SELECT ... FROM table [alias] [JOIN ...] [WHERE ...] [ORDER BY ...].
// With no select() and no add_key() every column is read ("*").
class Select_SQL : public SQL {
 public:
  // SQL::bind, returning this builder so calls chain on.
  Select_SQL& bind(const std::string& name, const Binding_Value& value) {
    SQL::bind(name, value);
    return *this;
  }
  // `alias` may be null or empty.
  Select_SQL(const std::string& table, const char* alias);

  // Adds a column (or qualified column "c.id", or a simple call such as
  // "count(*)") to the result.
  Select_SQL& select(const std::string& column);
  // Adds an SQL expression ("count(*)", "d.id") read under the result
  // name `name`.
  Select_SQL& add_key(const std::string& expression, const std::string& name);
  // INNER JOIN table alias ON on_condition.
  Select_SQL& join(const std::string& table, const char* alias, const std::string& on_condition);
  // Sets the condition. With `append` true and a condition already set,
  // the new one is joined to it with AND; otherwise it replaces it.
  Select_SQL& where(const std::string& condition, bool append = false);
  // ORDER BY expression (may be called several times).
  Select_SQL& order_by(const std::string& expression);
  // LIMIT n (n <= 0: no limit).
  Select_SQL& limit(int n);

  std::string text(Dialect d) const override;

 private:
  std::string from_;
  std::vector<std::string> columns_;
  std::vector<std::string> joins_;
  std::string where_;
  std::vector<std::string> order_;
  int limit_ = 0;
};

// UPDATE table SET ... [WHERE ...]; with no where() every row changes.
class Update_SQL : public SQL {
 public:
  // SQL::bind, returning this builder so calls chain on.
  Update_SQL& bind(const std::string& name, const Binding_Value& value) {
    SQL::bind(name, value);
    return *this;
  }
  explicit Update_SQL(const std::string& table);

  // Sets `column` to `value` (JSON null or nullptr: NULL). When
  // `expression` is not null the column is set to that SQL expression
  // instead (e.g. "failures+1") and `value` is ignored.
  Update_SQL& set(const std::string& column, const Binding_Value& value,
                  const char* expression = nullptr);
  Update_SQL& where(const std::string& condition, bool append = false);

  std::string text(Dialect d) const override;

 private:
  std::string table_;
  std::vector<std::string> sets_;
  std::string where_;
};

// DELETE FROM table [WHERE ...]; with no where() every row goes.
class Delete_SQL : public SQL {
 public:
  // SQL::bind, returning this builder so calls chain on.
  Delete_SQL& bind(const std::string& name, const Binding_Value& value) {
    SQL::bind(name, value);
    return *this;
  }
  explicit Delete_SQL(const std::string& table);
  Delete_SQL& where(const std::string& condition, bool append = false);

  std::string text(Dialect d) const override;

 private:
  std::string table_;
  std::string where_;
};

}  // namespace sql
}  // namespace database

#endif
