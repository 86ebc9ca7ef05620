#include "d2t/emulator/io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace d2t {
namespace emulator {

Fd& Fd::operator=(Fd&& o) noexcept {
  if (this != &o) reset(o.release());
  return *this;
}

void Fd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool read_all(int fd, std::string& out) {
  out.clear();
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
}

namespace {

bool write_all(int fd, const std::string& data) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

}  // namespace

bool replace_file(const std::string& path, const std::string& data,
                  std::string* error) {
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!fd.valid()) return fail(error, tmp);
  if (!write_all(fd.get(), data) || ::fsync(fd.get()) != 0) {
    int saved = errno;
    ::unlink(tmp.c_str());
    errno = saved;
    return fail(error, tmp);
  }
  fd.reset();
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    ::unlink(tmp.c_str());
    errno = saved;
    return fail(error, path);
  }
  std::string::size_type slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "."
                       : slash == 0               ? "/"
                                                  : path.substr(0, slash);
  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) ::fsync(dir.get());  // best effort: the rename is done
  return true;
}

std::string File_Stamp::text() const {
  return std::to_string(dev) + ":" + std::to_string(ino) + ":" +
         std::to_string(size) + ":" + std::to_string(mtime_ns);
}

File_Stamp stamp_of(const struct stat& st) {
  File_Stamp s;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL +
               st.st_mtim.tv_nsec;
  return s;
}

bool stamp_path(const std::string& path, File_Stamp& out) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  out = stamp_of(st);
  return true;
}

Flock_Guard::Flock_Guard(int fd) : fd_(fd) {
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) return;
  }
  locked_ = true;
}

Flock_Guard::~Flock_Guard() {
  if (locked_) ::flock(fd_, LOCK_UN);
}

}  // namespace emulator
}  // namespace d2t
