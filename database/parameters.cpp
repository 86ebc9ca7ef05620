// Named to numbered placeholders, skipping literals, identifiers and comments.
#include "database/parameters.h"

#include <cctype>

namespace database {
namespace sql {

namespace {

bool name_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Index just past a quoted run beginning at `i` (text[i] is the quote);
// a doubled quote inside stays inside. Unterminated: the end of the text.
std::size_t skip_quoted(const std::string& t, std::size_t i) {
  char q = t[i++];
  while (i < t.size()) {
    if (t[i] == q) {
      if (i + 1 < t.size() && t[i + 1] == q) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return t.size();
}

}  // namespace

Positional_Text to_positional(const std::string& t) {
  Positional_Text out;
  out.text.reserve(t.size());
  std::size_t i = 0;
  while (i < t.size()) {
    char c = t[i];
    if (c == '\'' || c == '"') {
      std::size_t e = skip_quoted(t, i);
      out.text.append(t, i, e - i);
      i = e;
    } else if (c == '-' && i + 1 < t.size() && t[i + 1] == '-') {
      std::size_t e = t.find('\n', i);
      if (e == std::string::npos) e = t.size();
      out.text.append(t, i, e - i);
      i = e;
    } else if (c == '/' && i + 1 < t.size() && t[i + 1] == '*') {
      std::size_t e = t.find("*/", i + 2);
      e = e == std::string::npos ? t.size() : e + 2;
      out.text.append(t, i, e - i);
      i = e;
    } else if (c == ':' && i + 1 < t.size() && t[i + 1] == ':') {
      out.text += "::";
      i += 2;
    } else if (c == ':' && i + 1 < t.size() && name_start(t[i + 1])) {
      std::size_t e = i + 1;
      while (e < t.size() && name_char(t[e])) ++e;
      std::string name = t.substr(i, e - i);
      std::size_t n = 0;
      while (n < out.names.size() && out.names[n] != name) ++n;
      if (n == out.names.size()) out.names.push_back(name);
      out.text += "$" + std::to_string(n + 1);
      i = e;
    } else {
      out.text += c;
      ++i;
    }
  }
  return out;
}

}  // namespace sql
}  // namespace database
