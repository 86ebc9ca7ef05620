// Bearer token file and its constant-time check.
#include "websvcs/server/token.h"

#include <strings.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const std::string::size_type MIN_TOKEN_LENGTH = 16;

}  // namespace

bool read_token_file(const std::string& path, std::string& token, std::string& error) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) {
    error = "cannot read token file " + path;
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  std::string t = s.str();
  const char* blanks = " \t\r\n";
  std::string::size_type b = t.find_first_not_of(blanks);
  std::string::size_type e = t.find_last_not_of(blanks);
  t = b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
  if (t.size() < MIN_TOKEN_LENGTH || t.find_first_of(blanks) != std::string::npos) {
    error = "token file " + path + " must hold one token of at least 16 characters";
    return false;
  }
  token = t;
  return true;
}

bool bearer_token_matches(const std::string& token, const char* authorization) {
  if (!authorization || token.empty()) return false;
  static const char SCHEME[] = "Bearer ";
  const std::size_t scheme_len = sizeof SCHEME - 1;
  if (std::strlen(authorization) < scheme_len ||
      strncasecmp(authorization, SCHEME, scheme_len) != 0)
    return false;
  const char* given = authorization + scheme_len;
  const std::size_t given_len = std::strlen(given);
  // Walk the whole expected token whatever the given length; differences
  // accumulate instead of returning early.
  unsigned char diff = given_len == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < token.size(); ++i) {
    unsigned char g = i < given_len ? static_cast<unsigned char>(given[i]) : 0;
    diff |= static_cast<unsigned char>(g ^ static_cast<unsigned char>(token[i]));
  }
  return diff == 0;
}
