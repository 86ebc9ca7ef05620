// Legacy_Cursor: buffered rows handed out by mode, with value translations.
#include "database/cursor.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace database {
namespace sql {

namespace {

bool text_to_int64(const std::string& s, long long& out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || !end || *end != '\0') return false;
  out = v;
  return true;
}

bool value_to_int64(const json_spirit::Value& v, long long& out) {
  switch (v.type()) {
    case json_spirit::int_type:
      out = v.get_int64();
      return true;
    case json_spirit::bool_type:
      out = v.get_bool() ? 1 : 0;
      return true;
    case json_spirit::real_type: {
      double d = v.get_real();
      if (d < static_cast<double>(LLONG_MIN) || d > static_cast<double>(LLONG_MAX)) return false;
      out = static_cast<long long>(d);
      return true;
    }
    case json_spirit::str_type:
      return text_to_int64(v.get_str(), out);
    default:
      return false;
  }
}

bool value_to_text(const json_spirit::Value& v, std::string& out) {
  switch (v.type()) {
    case json_spirit::str_type:
    case json_spirit::secure_str_type:
      out = v.get_str();
      return true;
    case json_spirit::int_type:
      out = std::to_string(v.get_int64());
      return true;
    case json_spirit::bool_type:
      out = v.get_bool() ? "1" : "0";
      return true;
    case json_spirit::real_type: {
      Binding_Value b(v.get_real());
      out = b.to_text();
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

Legacy_Cursor::Legacy_Cursor(const Connection_var& connection, const SQL& statement, Get_Mode mode,
                             int)
    : mode_(mode) {
  if (!connection) {
    error_ = "no connection";
    return;
  }
  run(*connection, statement);
}

Legacy_Cursor::Legacy_Cursor(Connection& connection, const SQL& statement, Get_Mode mode, int)
    : mode_(mode) {
  run(connection, statement);
}

void Legacy_Cursor::run(Connection& connection, const SQL& statement) {
  ok_ = connection.query(statement, rows_);
  if (!ok_) error_ = connection.last_error();
}

Legacy_Cursor& Legacy_Cursor::val_trans(const Val_Tran* table) {
  trans_ = table;
  return *this;
}

json_spirit::Value Legacy_Cursor::translate(std::size_t column, const json_spirit::Value& v) const {
  if (!trans_ || v.is_null() || column >= rows_.columns.size()) return v;
  const std::string& name = rows_.columns[column];
  for (const Val_Tran* t = trans_; t->name; ++t) {
    std::size_t len = t->length > 0 ? static_cast<std::size_t>(t->length) : std::strlen(t->name);
    if (name.size() != len || name.compare(0, len, t->name, len) != 0) continue;
    switch (t->action.type) {
      case VTT_NONE:
        return v;
      case VTT_BOOL: {
        if (v.type() == json_spirit::bool_type) return v;
        long long i = 0;
        if (value_to_int64(v, i)) return json_spirit::Value(i != 0);
        if (v.type() == json_spirit::str_type) {
          const std::string& s = v.get_str();
          if (s == "t" || s == "true" || s == "TRUE") return json_spirit::Value(true);
          if (s == "f" || s == "false" || s == "FALSE") return json_spirit::Value(false);
        }
        return v;
      }
      case VTT_INT: {
        long long i = 0;
        return value_to_int64(v, i) ? json_spirit::Value(i) : v;
      }
      case VTT_STRING: {
        std::string s;
        return value_to_text(v, s) ? json_spirit::Value(s) : v;
      }
    }
    return v;
  }
  return v;
}

void Legacy_Cursor::row_object(std::size_t row, json_spirit::Object& o) const {
  const std::vector<json_spirit::Value>& values = rows_.rows[row];
  for (std::size_t c = 0; c < values.size() && c < rows_.columns.size(); ++c) {
    o[rows_.columns[c]] = translate(c, values[c]);
  }
}

const json_spirit::Value* Legacy_Cursor::next_value() {
  extracted_ = true;
  last_ok_ = false;
  if (!ok_) return nullptr;
  if (mode_ == GM_FIRST_VAL) {
    // Every extraction reads the first row's first column again.
    if (rows_.rows.empty() || rows_.rows[0].empty()) return nullptr;
    return &rows_.rows[0][0];
  }
  if (next_row_ >= rows_.rows.size() || rows_.rows[next_row_].empty()) return nullptr;
  return &rows_.rows[next_row_++][0];
}

Legacy_Cursor& Legacy_Cursor::operator>>(long long& out) {
  const json_spirit::Value* v = next_value();
  long long i = 0;
  if (v && value_to_int64(translate(0, *v), i)) {
    out = i;
    last_ok_ = true;
  }
  return *this;
}

Legacy_Cursor& Legacy_Cursor::operator>>(long& out) {
  long long i = 0;
  *this >> i;
  if (last_ok_) {
    if (i < LONG_MIN || i > LONG_MAX) {
      last_ok_ = false;
    } else {
      out = static_cast<long>(i);
    }
  }
  return *this;
}

Legacy_Cursor& Legacy_Cursor::operator>>(int& out) {
  long long i = 0;
  *this >> i;
  if (last_ok_) {
    if (i < INT_MIN || i > INT_MAX) {
      last_ok_ = false;
    } else {
      out = static_cast<int>(i);
    }
  }
  return *this;
}

Legacy_Cursor& Legacy_Cursor::operator>>(bool& out) {
  const json_spirit::Value* v = next_value();
  if (!v) return *this;
  json_spirit::Value t = translate(0, *v);
  long long i = 0;
  if (t.type() == json_spirit::bool_type) {
    out = t.get_bool();
    last_ok_ = true;
  } else if (value_to_int64(t, i)) {
    out = i != 0;
    last_ok_ = true;
  }
  return *this;
}

Legacy_Cursor& Legacy_Cursor::operator>>(std::string& out) {
  const json_spirit::Value* v = next_value();
  std::string s;
  if (v && value_to_text(translate(0, *v), s)) {
    out = std::move(s);
    last_ok_ = true;
  }
  return *this;
}

Legacy_Cursor::operator bool() const {
  if (!ok_) return false;
  if (extracted_) return last_ok_;
  if (mode_ == GM_ROWS) return next_row_ < rows_.rows.size();
  return !rows_.rows.empty();
}

bool Legacy_Cursor::eof() const { return !ok_ || rows_.rows.empty(); }

bool Legacy_Cursor::fetch(json_spirit::Value& out) {
  if (!ok_) return false;
  if (mode_ == GM_ORM_ROWS) {
    out = json_spirit::Array(rows_.rows.size(), json_spirit::Value(json_spirit::Object()));
    json_spirit::Array& a = out.get_array();
    for (std::size_t r = 0; r < rows_.rows.size(); ++r) row_object(r, a[r].get_obj());
    return true;
  }
  if (rows_.rows.empty()) return false;
  out = json_spirit::Object();
  row_object(0, out.get_obj());
  return true;
}

}  // namespace sql
}  // namespace database
