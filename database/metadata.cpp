// Schema declaration: option strings, column and table SQL, scripts.
#include "database/metadata.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace database {
namespace sql {

namespace {

std::string trim(const std::string& s) {
  std::string::size_type b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string::size_type start = 0;
  while (true) {
    std::string::size_type p = s.find(sep, start);
    out.push_back(trim(s.substr(start, p == std::string::npos ? std::string::npos : p - start)));
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return out;
}

bool is_identifier(const std::string& s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

// "T(C),update A,delete A"
bool parse_foreign_key(const std::string& text, Foreign_Key& fk, std::string& error) {
  std::vector<std::string> parts = split(text, ',');
  const std::string& target = parts[0];
  std::string::size_type open = target.find('(');
  std::string::size_type close = target.find(')');
  if (open == std::string::npos || close == std::string::npos || close < open ||
      trim(target.substr(close + 1)) != "") {
    error = "foreign key '" + text + "' is not T(C)";
    return false;
  }
  fk.table = trim(target.substr(0, open));
  fk.column = trim(target.substr(open + 1, close - open - 1));
  if (!is_identifier(fk.table) || !is_identifier(fk.column)) {
    error = "foreign key '" + text + "' names no table or column";
    return false;
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    std::string p = lower(parts[i]);
    Foreign_Key::Option* target_option = nullptr;
    std::string rest;
    if (p.compare(0, 6, "update") == 0) {
      target_option = &fk.on_update;
      rest = p.substr(6);
    } else if (p.compare(0, 6, "delete") == 0) {
      target_option = &fk.on_delete;
      rest = p.substr(6);
    }
    if (!target_option || !Foreign_Key::parse_option(trim(rest), *target_option)) {
      error = "foreign key action '" + parts[i] + "' is not understood";
      return false;
    }
  }
  return true;
}

std::string default_sql(const Column& col, Dialect d) {
  if (col.type == CT_BOOL && d == DIALECT_POSTGRESQL) {
    if (col.default_sql == "0") return "FALSE";
    if (col.default_sql == "1") return "TRUE";
  }
  return col.default_sql;
}

}  // namespace

// ---- Foreign_Key ----------------------------------------------------------

const char* Foreign_Key::option_sql(Option o) {
  switch (o) {
    case NO_ACTION:
      return "NO ACTION";
    case SET_DEFAULT:
      return "SET DEFAULT";
    case SET_NULL:
      return "SET NULL";
    case CASCADE:
      return "CASCADE";
    case RESTRICT:
      return "RESTRICT";
  }
  return "NO ACTION";
}

bool Foreign_Key::parse_option(const std::string& text, Option& out) {
  std::string t = lower(trim(text));
  for (char& c : t) {
    if (c == '_') c = ' ';
  }
  if (t == "cascade") {
    out = CASCADE;
  } else if (t == "set null") {
    out = SET_NULL;
  } else if (t == "set default") {
    out = SET_DEFAULT;
  } else if (t == "restrict") {
    out = RESTRICT;
  } else if (t == "no action") {
    out = NO_ACTION;
  } else {
    return false;
  }
  return true;
}

// ---- Column ---------------------------------------------------------------

bool column_type_from_name(const std::string& name, Column_Type& out) {
  static const struct {
    const char* name;
    Column_Type type;
  } TYPES[] = {{"integer_id", CT_INTEGER_ID},
               {"integer", CT_INTEGER},
               {"int", CT_INTEGER},
               {"bigint", CT_BIGINT},
               {"varchar", CT_VARCHAR},
               {"text", CT_TEXT},
               {"real", CT_REAL},
               {"bool", CT_BOOL},
               {"boolean", CT_BOOL}};
  std::string n = lower(trim(name));
  for (const auto& t : TYPES) {
    if (n == t.name) {
      out = t.type;
      return true;
    }
  }
  return false;
}

bool Column::parse_options(const char* options, std::string& error) {
  if (!options) return true;
  for (const std::string& item : split(options, ';')) {
    if (item.empty()) continue;
    std::string::size_type eq = item.find('=');
    std::string key = lower(trim(item.substr(0, eq)));
    std::string value = eq == std::string::npos ? std::string() : trim(item.substr(eq + 1));
    if (eq == std::string::npos) {
      if (key == "primary") {
        primary = true;
      } else if (key == "autoincrement" || key == "auto_increment") {
        autoincrement = true;
      } else if (key == "not_null" || key == "not null") {
        not_null = true;
      } else if (key == "unique") {
        unique = true;
      } else {
        error = "unknown option '" + item + "' of column " + name;
        return false;
      }
    } else if (key == "size") {
      char* end = nullptr;
      long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n <= 0 || n > 1000000000L) {
        error = "bad size '" + value + "' of column " + name;
        return false;
      }
      size = static_cast<int>(n);
    } else if (key == "default") {
      if (value.empty()) {
        error = "empty default of column " + name;
        return false;
      }
      has_default = true;
      default_sql = value;
    } else if (key == "foreigner") {
      if (!parse_foreign_key(value, foreign_key, error)) {
        error += " (column " + name + ")";
        return false;
      }
      has_foreign_key = true;
    } else {
      error = "unknown option '" + item + "' of column " + name;
      return false;
    }
  }
  return true;
}

std::string column_sql(const Column& col, Dialect d) {
  std::string s;
  bool identity = col.autoincrement && d == DIALECT_POSTGRESQL;
  switch (col.type) {
    case CT_INTEGER_ID:
      s = d == DIALECT_SQLITE ? "INTEGER" : "BIGINT";
      break;
    case CT_INTEGER:
      s = "INTEGER";
      break;
    case CT_BIGINT:
      s = d == DIALECT_SQLITE ? "INTEGER" : "BIGINT";
      break;
    case CT_VARCHAR:
      s = col.size > 0 ? "VARCHAR(" + std::to_string(col.size) + ")" : "TEXT";
      break;
    case CT_TEXT:
      s = "TEXT";
      break;
    case CT_REAL:
      s = d == DIALECT_SQLITE ? "REAL" : "DOUBLE PRECISION";
      break;
    case CT_BOOL:
      s = "BOOLEAN";
      break;
  }
  if (identity) s += " GENERATED BY DEFAULT AS IDENTITY";
  if (col.primary) {
    s += " PRIMARY KEY";
    // SQLite: AUTOINCREMENT never reuses the id of a deleted row.
    if (col.autoincrement && d == DIALECT_SQLITE) s += " AUTOINCREMENT";
  }
  if (col.not_null) s += " NOT NULL";
  if (col.unique) s += " UNIQUE";
  if (col.has_default) s += " DEFAULT " + default_sql(col, d);
  // SQLite does not enforce a VARCHAR's size on its own.
  if (d == DIALECT_SQLITE && col.type == CT_VARCHAR && col.size > 0) {
    s += " CHECK (length(" + col.name + ") <= " + std::to_string(col.size) + ")";
  }
  if (col.has_foreign_key) {
    s += " REFERENCES " + col.foreign_key.table + " (" + col.foreign_key.column + ")";
    s += std::string(" ON UPDATE ") + Foreign_Key::option_sql(col.foreign_key.on_update);
    s += std::string(" ON DELETE ") + Foreign_Key::option_sql(col.foreign_key.on_delete);
  }
  return s;
}

// ---- Table ----------------------------------------------------------------

Column* Table::add_column(const std::string& name, Column_Type type, const char* options) {
  if (!is_identifier(name)) {
    error_ += "invalid column name '" + name + "' in table " + name_ + "\n";
    return nullptr;
  }
  if (find_column(name)) {
    error_ += "column " + name + " declared twice in table " + name_ + "\n";
    return nullptr;
  }
  Column c;
  c.name = name;
  c.type = type;
  std::string error;
  if (!c.parse_options(options, error)) {
    error_ += error + " in table " + name_ + "\n";
    return nullptr;
  }
  columns_.push_back(c);
  return &columns_.back();
}

Column* Table::add_column(const std::string& name, const char* type, const char* options) {
  Column_Type t;
  if (!type || !column_type_from_name(type, t)) {
    error_ += std::string("unknown type '") + (type ? type : "(null)") + "' of column " + name +
              " in table " + name_ + "\n";
    return nullptr;
  }
  return add_column(name, t, options);
}

bool Table::add_unique(const std::string& columns) {
  std::vector<std::string> names = split(columns, ',');
  for (const std::string& n : names) {
    if (!find_column(n)) {
      error_ += "unique key '" + columns + "' names an undeclared column of table " + name_ + "\n";
      return false;
    }
  }
  uniques_.push_back(names);
  return true;
}

const Column* Table::find_column(const std::string& name) const {
  for (const Column& c : columns_) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

// ---- Metadata -------------------------------------------------------------

Metadata::Metadata(const std::string& name, int version, int flags)
    : name_(name), version_(version), flags_(flags) {}

Metadata::~Metadata() = default;

Table* Metadata::add_table(const std::string& name) {
  if (!is_identifier(name)) return nullptr;
  for (auto& t : tables_) {
    if (t->name() == name) return t.get();
  }
  tables_.push_back(std::unique_ptr<Table>(new Table(name)));
  return tables_.back().get();
}

const Table* Metadata::find_table(const std::string& name) const {
  for (const auto& t : tables_) {
    if (t->name() == name) return t.get();
  }
  return nullptr;
}

std::string Metadata::errors() const {
  std::string e;
  for (const auto& t : tables_) e += t->error();
  return e;
}

std::string Metadata::get_template_table_sql(const Table& t, Dialect d) const {
  std::string s = "CREATE TABLE IF NOT EXISTS " + t.name() + " (";
  bool first = true;
  for (const Column& c : t.columns()) {
    s += first ? "\n  " : ",\n  ";
    first = false;
    s += c.name + " " + column_sql(c, d);
  }
  for (const auto& u : t.unique_keys()) {
    s += first ? "\n  UNIQUE (" : ",\n  UNIQUE (";
    first = false;
    for (std::size_t i = 0; i < u.size(); ++i) s += (i ? ", " : "") + u[i];
    s += ")";
  }
  s += "\n)";
  return s;
}

std::string Metadata::get_create_script(Dialect d) const {
  std::string s;
  for (const auto& t : tables_) s += get_template_table_sql(*t, d) + ";\n";
  return s;
}

std::string Metadata::get_drop_script(Dialect d) const {
  std::string s;
  for (auto it = tables_.rbegin(); it != tables_.rend(); ++it) {
    s += "DROP TABLE IF EXISTS " + (*it)->name();
    if (d == DIALECT_POSTGRESQL) s += " CASCADE";
    s += ";\n";
  }
  return s;
}

}  // namespace sql
}  // namespace database
