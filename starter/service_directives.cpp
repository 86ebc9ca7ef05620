#include "starter/service_directives.h"

#include <ace/Log_Msg.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace {

const char* const KEYWORDS[] = {"dynamic", "static", "remove", "suspend", "resume", "stream"};

bool starts_directive(const std::string& line) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  for (const char* k : KEYWORDS) {
    if (word == k) return true;
  }
  return false;
}

// The line without its comment; `quoted` carries an open quote across
// lines.
std::string strip_comment(const std::string& line, bool& quoted) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '#' && !quoted) return line.substr(0, i);
  }
  return line;
}

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

void finish(Service_Directive& d, std::vector<Service_Directive>& out) {
  d.text = trim(d.text);
  if (d.text.empty()) return;
  std::istringstream in(d.text);
  std::string kind, name;
  in >> kind >> name;
  if (kind == "dynamic" || kind == "static") d.name = name;
  out.push_back(d);
}

bool read_file(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  bytes = s.str();
  return !in.bad();
}

}  // namespace

std::vector<Service_Directive> split_directives(const std::string& text,
                                                const std::string& origin) {
  std::vector<Service_Directive> out;
  Service_Directive current{origin, "", ""};
  std::istringstream in(text);
  bool quoted = false;
  int depth = 0;  // open braces of a stream directive
  for (std::string line; std::getline(in, line);) {
    const bool was_quoted = quoted;
    line = strip_comment(line, quoted);
    if (!was_quoted && depth == 0 && starts_directive(line)) {
      finish(current, out);
      current = Service_Directive{origin, "", ""};
    }
    for (char c : line) depth += c == '{' ? 1 : c == '}' ? -1 : 0;
    if (depth < 0) depth = 0;
    current.text += line + " ";
  }
  finish(current, out);
  return out;
}

bool read_directives(const Service_Source& source, std::vector<Service_Directive>& out) {
  if (source.kind == Service_Source::DIRECTIVE) {
    Service_Directive d{"", source.text, ""};
    finish(d, out);
    return true;
  }
  const std::string& file = source.text;
  struct stat st;
  std::string bytes;
  if (::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    // add_config_files hands on a directory it could not open.
    ACE_ERROR((LM_ERROR, "Failed to read service configuration directory %C\n", file.c_str()));
    return false;
  }
  errno = 0;
  if (!read_file(file, bytes)) {
    if (errno == 0) errno = EIO;
    ACE_ERROR(
        (LM_ERROR, "Failed to read service configuration %C, errno=%d, %m\n", file.c_str(), errno));
    return false;
  }
  const std::vector<Service_Directive> found = split_directives(bytes, file);
  out.insert(out.end(), found.begin(), found.end());
  return true;
}

std::string named_files(const Service_Directive& directive) {
  const size_t open = directive.text.find('"');
  const size_t close = directive.text.rfind('"');
  if (open == std::string::npos || close <= open) return "";
  std::istringstream words(directive.text.substr(open + 1, close - open - 1));
  std::string result;
  for (std::string w; words >> w;) {
    struct stat st;
    std::string bytes;
    if (w[0] == '/' && ::stat(w.c_str(), &st) == 0 && S_ISREG(st.st_mode) && read_file(w, bytes))
      result += w + '\0' + std::to_string(bytes.size()) + '\0' + bytes;
  }
  return result;
}
