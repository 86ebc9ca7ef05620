// Statement builders: SQL text with named parameters, values kept apart.
#include "database/statement.h"

#include <cctype>
#include <cstdio>

#include "json_spirit/json_spirit.h"

namespace database {
namespace sql {

namespace {

bool is_identifier(const std::string& s, bool allow_dot, bool allow_star, bool allow_call = false) {
  if (s.empty()) return false;
  if (std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '_') continue;
    if (allow_dot && c == '.') continue;
    if (allow_star && c == '*') continue;
    if (allow_call && (c == '(' || c == ')')) continue;
    return false;
  }
  return true;
}

std::string join_where(const std::string& current, const std::string& condition, bool append) {
  if (condition.empty()) return append ? current : std::string();
  if (!append || current.empty()) return condition;
  return "(" + current + ") AND (" + condition + ")";
}

}  // namespace

// ---- Binding_Value ------------------------------------------------------

Binding_Value::Binding_Value(const char* s) {
  if (s) {
    kind_ = BV_TEXT;
    text_ = s;
  }
}

Binding_Value::Binding_Value(const json_spirit::Value& v) {
  switch (v.type()) {
    case json_spirit::null_type:
      break;
    case json_spirit::bool_type:
      kind_ = BV_BOOL;
      int_ = v.get_bool() ? 1 : 0;
      break;
    case json_spirit::int_type:
      kind_ = BV_INT;
      int_ = v.get_int64();
      break;
    case json_spirit::real_type:
      kind_ = BV_REAL;
      real_ = v.get_real();
      break;
    case json_spirit::str_type:
    case json_spirit::secure_str_type:
      kind_ = BV_TEXT;
      text_ = v.get_str();
      break;
    case json_spirit::obj_type:
    case json_spirit::array_type:
      kind_ = BV_TEXT;
      text_ = json_spirit::write(v);
      break;
  }
}

std::string Binding_Value::to_text() const {
  switch (kind_) {
    case BV_NULL:
      return std::string();
    case BV_BOOL:
      return int_ ? "true" : "false";
    case BV_INT:
      return std::to_string(int_);
    case BV_REAL: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", real_);
      return buf;
    }
    case BV_TEXT:
      return text_;
  }
  return std::string();
}

bool Binding_Value::operator==(const Binding_Value& o) const {
  if (kind_ != o.kind_) return false;
  switch (kind_) {
    case BV_NULL:
      return true;
    case BV_BOOL:
    case BV_INT:
      return int_ == o.int_;
    case BV_REAL:
      return real_ == o.real_;
    case BV_TEXT:
      return text_ == o.text_;
  }
  return false;
}

// ---- SQL ------------------------------------------------------------------

SQL::~SQL() = default;

SQL& SQL::bind(const std::string& name, const Binding_Value& value) {
  if (name.empty()) return *this;
  bindings_[name[0] == ':' ? name : ":" + name] = value;
  return *this;
}

Bindings SQL::all_bindings() const {
  Bindings all = bindings_;
  for (const auto& v : values_) all[v.first] = v.second;
  return all;
}

bool SQL::check_identifier(const std::string& what, const std::string& name) {
  if (is_identifier(name, true, false)) return true;
  if (error_.empty()) error_ = "invalid " + what + " name '" + name + "'";
  return false;
}

std::string SQL::add_value(const Binding_Value& v) {
  std::string name = ":_v" + std::to_string(values_.size() + 1);
  values_[name] = v;
  return name;
}

std::string SQL::trim_condition(const std::string& condition) {
  std::string::size_type b = 0, e = condition.size();
  while (b < e && std::isspace(static_cast<unsigned char>(condition[b]))) ++b;
  while (e > b &&
         (std::isspace(static_cast<unsigned char>(condition[e - 1])) || condition[e - 1] == ';'))
    --e;
  return condition.substr(b, e - b);
}

// ---- Insert_SQL -----------------------------------------------------------

Insert_SQL::Insert_SQL(const std::string& table) : table_(table) {
  check_identifier("table", table);
}

Insert_SQL& Insert_SQL::value(const json_spirit::Object& object, const std::string& key,
                              const char* column) {
  auto it = object.find(key);
  if (it == object.end()) return *this;
  return value(column ? std::string(column) : key, Binding_Value(it->second));
}

Insert_SQL& Insert_SQL::value(const std::string& column, const Binding_Value& v) {
  if (!check_identifier("column", column)) return *this;
  for (auto& c : columns_) {
    if (c.first == column) {  // the later value wins, as with an object key
      c.second = add_value(v);
      return *this;
    }
  }
  columns_.emplace_back(column, add_value(v));
  return *this;
}

std::string Insert_SQL::text(Dialect d) const {
  if (invalid()) return std::string();
  std::string s = "INSERT INTO " + table_;
  if (columns_.empty()) {
    s += " DEFAULT VALUES";
  } else {
    std::string names, params;
    for (const auto& c : columns_) {
      if (!names.empty()) {
        names += ", ";
        params += ", ";
      }
      names += c.first;
      params += c.second;
    }
    s += " (" + names + ") VALUES (" + params + ")";
  }
  if (d == DIALECT_POSTGRESQL) s += " RETURNING *";
  return s;
}

// ---- Select_SQL -----------------------------------------------------------

Select_SQL::Select_SQL(const std::string& table, const char* alias) {
  check_identifier("table", table);
  from_ = table;
  if (alias && *alias) {
    check_identifier("alias", alias);
    from_ += std::string(" ") + alias;
  }
}

Select_SQL& Select_SQL::select(const std::string& column) {
  if (!is_identifier(column, true, true, true)) {
    check_identifier("column", column);
    return *this;
  }
  columns_.push_back(column);
  return *this;
}

Select_SQL& Select_SQL::add_key(const std::string& expression, const std::string& name) {
  if (!check_identifier("result", name)) return *this;
  std::string e = trim_condition(expression);
  if (e.empty()) {
    if (error_.empty()) error_ = "empty expression for result '" + name + "'";
    return *this;
  }
  columns_.push_back(e + " AS \"" + name + "\"");
  return *this;
}

Select_SQL& Select_SQL::join(const std::string& table, const char* alias,
                             const std::string& on_condition) {
  check_identifier("table", table);
  std::string j = " JOIN " + table;
  if (alias && *alias) {
    check_identifier("alias", alias);
    j += std::string(" ") + alias;
  }
  std::string on = trim_condition(on_condition);
  if (!on.empty()) j += " ON " + on;
  joins_.push_back(j);
  return *this;
}

Select_SQL& Select_SQL::where(const std::string& condition, bool append) {
  where_ = join_where(where_, trim_condition(condition), append);
  return *this;
}

Select_SQL& Select_SQL::order_by(const std::string& expression) {
  std::string e = trim_condition(expression);
  if (!e.empty()) order_.push_back(e);
  return *this;
}

Select_SQL& Select_SQL::limit(int n) {
  limit_ = n > 0 ? n : 0;
  return *this;
}

std::string Select_SQL::text(Dialect) const {
  if (invalid()) return std::string();
  std::string s = "SELECT ";
  if (columns_.empty()) {
    s += "*";
  } else {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (i) s += ", ";
      s += columns_[i];
    }
  }
  s += " FROM " + from_;
  for (const auto& j : joins_) s += j;
  if (!where_.empty()) s += " WHERE " + where_;
  for (std::size_t i = 0; i < order_.size(); ++i) s += (i ? ", " : " ORDER BY ") + order_[i];
  if (limit_ > 0) s += " LIMIT " + std::to_string(limit_);
  return s;
}

// ---- Update_SQL -----------------------------------------------------------

Update_SQL::Update_SQL(const std::string& table) : table_(table) {
  check_identifier("table", table);
}

Update_SQL& Update_SQL::set(const std::string& column, const Binding_Value& value,
                            const char* expression) {
  if (!check_identifier("column", column)) return *this;
  if (expression) {
    std::string e = trim_condition(expression);
    if (e.empty()) {
      if (error_.empty()) error_ = "empty expression for column '" + column + "'";
      return *this;
    }
    sets_.push_back(column + " = " + e);
  } else {
    sets_.push_back(column + " = " + add_value(value));
  }
  return *this;
}

Update_SQL& Update_SQL::where(const std::string& condition, bool append) {
  where_ = join_where(where_, trim_condition(condition), append);
  return *this;
}

std::string Update_SQL::text(Dialect) const {
  if (invalid()) return std::string();
  if (sets_.empty()) return std::string();
  std::string s = "UPDATE " + table_ + " SET ";
  for (std::size_t i = 0; i < sets_.size(); ++i) {
    if (i) s += ", ";
    s += sets_[i];
  }
  if (!where_.empty()) s += " WHERE " + where_;
  return s;
}

// ---- Delete_SQL -----------------------------------------------------------

Delete_SQL::Delete_SQL(const std::string& table) : table_(table) {
  check_identifier("table", table);
}

Delete_SQL& Delete_SQL::where(const std::string& condition, bool append) {
  where_ = join_where(where_, trim_condition(condition), append);
  return *this;
}

std::string Delete_SQL::text(Dialect) const {
  if (invalid()) return std::string();
  std::string s = "DELETE FROM " + table_;
  if (!where_.empty()) s += " WHERE " + where_;
  return s;
}

}  // namespace sql
}  // namespace database
