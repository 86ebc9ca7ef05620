// Reading rows: Legacy_Cursor runs a select when it is made and hands the
// rows out in one of four modes.
//
//   GM_FIRST_VAL     c >> x reads the first column of the first row into an
//                    int, long, long long or std::string; the cursor then
//                    tests false when there was no row (or the value could
//                    not be read as that type).
//   GM_ORM_FIRST_ROW eof() is true when there is no row; fetch(v) gives true
//                    and an object {column or result name: value} of the
//                    first row.
//   GM_ORM_ROWS      fetch(v) gives true and an array of such objects, one
//                    per row (an empty array when no row matched).
//   GM_ROWS          each c >> x reads the first column of the next row;
//                    the cursor tests false once the rows are used up.
//
// Values: integers come as JSON integers, text as strings, NULL as null,
// reals as reals, columns declared bool as JSON booleans. val_trans() adds
// per-column translations (VTT_BOOL: 0/1 or "t"/"f" become booleans).
//
// A cursor whose query failed (no connection, invalid statement, engine
// error) tests false, is at eof() and fetches nothing; error() tells why.
#ifndef DATABASE_CURSOR_H
#define DATABASE_CURSOR_H

#include <cstddef>
#include <string>

#include "database/connection.h"

namespace database {
namespace sql {

enum Get_Mode { GM_FIRST_VAL, GM_ORM_FIRST_ROW, GM_ORM_ROWS, GM_ROWS };

enum Val_Tran_Type {
  VTT_NONE,   // value as read
  VTT_BOOL,   // integer or text truth value -> JSON boolean
  VTT_INT,    // numeric text -> JSON integer
  VTT_STRING  // any non-null value -> its text
};

struct Val_Tran_Action {
  Val_Tran_Type type;
  int flags;  // reserved, 0
};

// One translation: the column (or result) name, its length in characters,
// and what to do. A table of them ends with an entry whose name is null:
//   static const Val_Tran vt[] = {{"is_porter", 9, {VTT_BOOL, 0}},
//                                 {nullptr, 0, {VTT_NONE, 0}}};
struct Val_Tran {
  const char* name;
  int length;
  Val_Tran_Action action;
};

class Legacy_Cursor {
 public:
  // Runs `statement` on `connection` (which may be empty: the cursor then
  // fails). `flags` is reserved, 0. The rows are read at once; the cursor
  // holds no engine resources afterwards.
  Legacy_Cursor(const Connection_var& connection, const SQL& statement, Get_Mode mode,
                int flags = 0);
  Legacy_Cursor(Connection& connection, const SQL& statement, Get_Mode mode, int flags = 0);

  Legacy_Cursor(const Legacy_Cursor&) = delete;
  Legacy_Cursor& operator=(const Legacy_Cursor&) = delete;

  // Sets the translations (a table ended by a null name, which must
  // outlive the cursor's fetches). Returns the cursor.
  Legacy_Cursor& val_trans(const Val_Tran* table);

  // GM_FIRST_VAL and GM_ROWS: extraction of the first column.
  Legacy_Cursor& operator>>(int& out);
  Legacy_Cursor& operator>>(long& out);
  Legacy_Cursor& operator>>(long long& out);
  Legacy_Cursor& operator>>(std::string& out);
  Legacy_Cursor& operator>>(bool& out);

  // False when the query failed; before any extraction, false when there
  // is no row to read; after an extraction, whether it read a value.
  explicit operator bool() const;
  bool operator!() const { return !static_cast<bool>(*this); }

  // GM_ORM_FIRST_ROW: true when there is no row (or the query failed).
  bool eof() const;
  // GM_ORM_FIRST_ROW: the first row as an object. GM_ORM_ROWS: every row
  // as an array of objects. True on success; `out` untouched on failure.
  bool fetch(json_spirit::Value& out);

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  // Rows the query returned.
  std::size_t size() const { return rows_.rows.size(); }

 private:
  void run(Connection& connection, const SQL& statement);
  json_spirit::Value translate(std::size_t column, const json_spirit::Value& v) const;
  void row_object(std::size_t row, json_spirit::Object& out) const;
  // The next value of the first column, or null when none is left.
  const json_spirit::Value* next_value();

  Get_Mode mode_;
  bool ok_ = false;
  std::string error_;
  Result_Set rows_;
  const Val_Tran* trans_ = nullptr;
  std::size_t next_row_ = 0;
  bool extracted_ = false;
  bool last_ok_ = false;
};

}  // namespace sql
}  // namespace database

#endif
