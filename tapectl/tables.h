// Human output of tapectl: aligned tables built from the daemon's JSON
// replies. Pure text: no I/O, colour only when asked for.
#ifndef TAPECTL_TABLES_H
#define TAPECTL_TABLES_H

#include <string>
#include <vector>

#include "json_spirit/json_spirit_value.h"

namespace tapectl {

// Columns separated by two spaces, each as wide as its widest cell; the
// last column is not padded. With `colour`, the header is bold.
class Table {
 public:
  explicit Table(std::vector<std::string> header) : header_(std::move(header)) {}
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  bool empty() const { return rows_.empty(); }
  std::string render(bool colour) const;

 private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
};

// The inventory reply (an array of libraries): per library a heading, the
// drives table and the slots as a compact grid.
std::string render_inventory(const json_spirit::Value& reply, bool colour);
// The info reply: the libraries the host sees.
std::string render_libraries(const json_spirit::Value& reply, bool colour);
// The operations reply.
std::string render_operations(const json_spirit::Value& reply, bool colour);
// The refresh reply (one library with the changer's drives and slots).
std::string render_refresh(const json_spirit::Value& reply, bool colour);

// A JSON scalar as text: strings as they are, null as "-", numbers,
// booleans as "yes"/"no".
std::string cell(const json_spirit::Value& v);

}  // namespace tapectl

#endif
