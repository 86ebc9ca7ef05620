// Reading the TLS certificate and key, and the exposure warnings.
#include "websvcs/server/tls.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "websvcs/framework/json_restful_request.h"

namespace {

const off_t MAX_PEM_BYTES = 1 << 20;

// A descriptor closed on destruction.
class File {
 public:
  explicit File(int fd) : fd_(fd) {}
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void wipe(std::string& s) {
  if (!s.empty()) explicit_bzero(&s[0], s.size());
  s.clear();
}

// Reads the PEM file `path` (links followed: certificates are often
// links into a renewal tool's folder) into `out`. `what` names the
// configuration key in messages; `secret` refuses a file others may read.
bool read_pem(const std::string& path, const char* what, const char* marker, bool secret,
              std::string& out, std::string& error) {
  File f(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (f.get() < 0 || ::fstat(f.get(), &st) != 0) {
    error = std::string("\"") + what + "\" " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_size > MAX_PEM_BYTES) {
    error = std::string("\"") + what + "\" " + path + ": not a regular file of at most 1 MiB";
    return false;
  }
  if (secret && (st.st_mode & (S_IROTH | S_IWOTH)) != 0) {
    error = std::string("\"") + what + "\" " + path +
            " may be read or written by any account: refused (chmod o-rw, e.g. mode 0600 or "
            "0640)";
    return false;
  }
  std::string text(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(f.get(), &text[got], text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  const bool pem =
      text.find("-----BEGIN ") != std::string::npos && text.find(marker) != std::string::npos;
  if (!pem) {
    wipe(text);
    error = std::string("\"") + what + "\" " + path + ": no PEM " + marker + " in the file";
    return false;
  }
  out.swap(text);
  return true;
}

}  // namespace

Tls_Credentials::~Tls_Credentials() { clear(); }

Tls_Credentials::Tls_Credentials(Tls_Credentials&& other) noexcept
    : certificate_(std::move(other.certificate_)), key_(std::move(other.key_)) {
  other.clear();
}

Tls_Credentials& Tls_Credentials::operator=(Tls_Credentials&& other) noexcept {
  if (this != &other) {
    clear();
    certificate_.swap(other.certificate_);
    key_.swap(other.key_);
  }
  return *this;
}

void Tls_Credentials::clear() {
  wipe(key_);
  certificate_.clear();
}

bool Tls_Credentials::load(const Web_Config& config, std::string& error) {
  clear();
  if (config.tls_certificate.empty() && config.tls_key.empty()) return true;
  std::string certificate, key;
  if (!read_pem(config.tls_certificate, "tls_certificate", "CERTIFICATE", false, certificate,
                error) ||
      !read_pem(config.tls_key, "tls_key", "PRIVATE KEY", true, key, error)) {
    wipe(key);
    return false;
  }
  certificate_.swap(certificate);
  key_.swap(key);
  return true;
}

std::vector<std::string> exposure_warnings(const Web_Config& config, bool token_required) {
  std::vector<std::string> out;
  if (!is_loopback_address(config.listen) && config.tls_certificate.empty())
    out.push_back("listening on " + config.listen +
                  " without TLS: the bearer token and every reply cross the network in clear "
                  "(set \"tls_certificate\" and \"tls_key\")");
  if (!token_required)
    out.push_back(
        "no bearer token is configured (\"token_file\"): any local account can load, unload "
        "and move cartridges and rescan libraries");
  return out;
}
