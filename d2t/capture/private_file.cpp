// A private file written through an exclusive temporary and a rename.
#include "d2t/capture/private_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace d2t {
namespace capture {

namespace {

// The temporary file: closed, and removed unless kept.
class Temporary_File {
 public:
  explicit Temporary_File(const std::string& target) : name_(target + ".XXXXXX") {
    // mkostemp creates with O_CREAT | O_EXCL and mode 0600: an existing
    // name, a symbolic link included, is never opened.
    fd_ = ::mkostemp(&name_[0], O_CLOEXEC);
    created_ = fd_ >= 0;
  }
  // Only a file this object created is removed: after a failed mkostemp
  // the name may be someone else's.
  ~Temporary_File() {
    close();
    if (created_ && !kept_) ::unlink(name_.c_str());
  }
  Temporary_File(const Temporary_File&) = delete;
  Temporary_File& operator=(const Temporary_File&) = delete;

  bool opened() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }
  bool write_all(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return ::fsync(fd_) == 0;
  }
  bool close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }
  void keep() { kept_ = true; }

 private:
  std::string name_;
  int fd_;
  bool created_;
  bool kept_ = false;
};

}  // namespace

bool write_private_file(const std::string& path, const std::string& text, std::string& error) {
  Temporary_File tmp(path);
  if (!tmp.opened()) {
    error = path + ": cannot create a temporary file beside it: " + std::strerror(errno);
    return false;
  }
  if (!tmp.write_all(text) || !tmp.close()) {
    error = path + ": cannot be written: " + std::strerror(errno);
    return false;
  }
  if (std::rename(tmp.name().c_str(), path.c_str()) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  tmp.keep();
  return true;
}

}  // namespace capture
}  // namespace d2t
