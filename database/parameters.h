// Named parameters (":name") in SQL text, for engines that number their
// placeholders ($1, $2, ...). Pure text work: no engine, no state.
#ifndef DATABASE_PARAMETERS_H
#define DATABASE_PARAMETERS_H

#include <string>
#include <vector>

namespace database {
namespace sql {

struct Positional_Text {
  std::string text;                // ":a ... :b ... :a" -> "$1 ... $2 ... $1"
  std::vector<std::string> names;  // names[i] is the parameter of $(i+1), with ':'
};

// Rewrites each named parameter of `text` as $n, the same name always
// getting the same number. Text inside '...' literals, "..." identifiers,
// comments, and "::" casts is left alone. Never fails; a ':' that does not
// start a name is kept as it is.
Positional_Text to_positional(const std::string& text);

}  // namespace sql
}  // namespace database

#endif
