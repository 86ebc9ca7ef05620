// File handling for the state and library files: an owning descriptor,
// whole-file reads, crash-safe replacement and an exclusive file lock.
#ifndef D2T_EMULATOR_IO_H
#define D2T_EMULATOR_IO_H

#include <sys/stat.h>

#include <string>

namespace d2t {
namespace emulator {

// Owns one file descriptor; closes it on destruction. Move-only.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.release()) {}
  Fd& operator=(Fd&& o) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Reads everything from `fd` (from its current offset). False with errno
// set on a read error.
bool read_all(int fd, std::string& out);

// Replaces `path` with `data`: writes "<path>.tmp.<pid>", fsyncs it,
// renames it over `path` and fsyncs the folder. False with `error` set;
// the old file is then untouched.
bool replace_file(const std::string& path, const std::string& data,
                  std::string* error);

// Identity of a file's version: replaced files get a new inode, edited
// ones a new size or modification time.
struct File_Stamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  long long mtime_ns = -1;
  bool operator==(const File_Stamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size &&
           mtime_ns == o.mtime_ns;
  }
  bool operator!=(const File_Stamp& o) const { return !(*this == o); }
  std::string text() const;
};
File_Stamp stamp_of(const struct stat& st);
// False with errno set when the file cannot be stat'ed.
bool stamp_path(const std::string& path, File_Stamp& out);

// Holds an exclusive flock on an open descriptor for its lifetime.
class Flock_Guard {
 public:
  // Blocks until the lock is held; locked() false with errno on failure.
  explicit Flock_Guard(int fd);
  ~Flock_Guard();
  Flock_Guard(const Flock_Guard&) = delete;
  Flock_Guard& operator=(const Flock_Guard&) = delete;
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_ = false;
};

}  // namespace emulator
}  // namespace d2t

#endif
