// Bearer token file and its constant-time check.
#include "websvcs/server/token.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const std::string::size_type MIN_TOKEN_LENGTH = 16;
// A token file is one word; anything this large is not one.
const std::string::size_type MAX_FILE_SIZE = 65536;

// Closes its descriptor.
class Unique_Fd {
 public:
  explicit Unique_Fd(int fd) : fd_(fd) {}
  ~Unique_Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Unique_Fd(const Unique_Fd&) = delete;
  Unique_Fd& operator=(const Unique_Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool read_token_file(const std::string& path, std::string& token, std::string& error) {
  // The permissions are checked on the file opened, not on the name.
  Unique_Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
    error = "cannot read token file " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "token file " + path + " is not a regular file";
    return false;
  }
  if (st.st_mode & S_IROTH) {
    error = "token file " + path +
            " is readable by others: allow only its owner and group to read it (chmod 0640)";
    return false;
  }
  std::string t;
  char buf[4096];
  for (ssize_t n; (n = read(fd.get(), buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || t.size() > MAX_FILE_SIZE) {
      error = "cannot read token file " + path;
      return false;
    }
    t.append(buf, static_cast<std::size_t>(n));
  }
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
