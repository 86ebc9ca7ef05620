// LD_PRELOAD library that presents the emulated tape library to unmodified
// programs (mtx, sg3-utils). With D2T_EMULATOR naming a library file,
// opening an emulated device name opens a placeholder (/dev/null) so the
// descriptor is real and unique; ioctl(SG_IO) and the sg driver's query
// ioctls on that descriptor are answered by the emulator, and fstat reports
// a character device of the sg (major 21) or st (major 9) driver. Every
// other path and descriptor goes to the C library untouched (dup2, dup3
// and real opens drop a stale entry whose number was reused).
//
// The library symbols are interposed, not system calls: static and setuid
// programs are not reached.
#include <dlfcn.h>
#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "d2t/emulator/provider.h"

using d2t::emulator::Emulated_Provider;
using d2t::emulator::Emulated_Transport;

namespace {

const int SG_VERSION = 30536;  // v3 interface: sg3-utils stays on SG_IO v3
const int SG_MAJOR = 21;
const int ST_MAJOR = 9;

struct Open_Device {
  std::shared_ptr<Emulated_Transport> transport;
  std::string name;  // the name it was opened by
  int timeout = 60000;
};

// Process-wide table of emulated descriptors.
struct Shim {
  std::mutex mutex;
  std::map<int, Open_Device> fds;  // (mutex)
  std::unique_ptr<Emulated_Provider> provider;
};

thread_local bool t_busy = false;  // the emulator itself is running

// Marks the emulator busy on this thread, so its own file operations pass
// straight through.
class Busy_Guard {
 public:
  Busy_Guard() : was_(t_busy) { t_busy = true; }
  ~Busy_Guard() { t_busy = was_; }

 private:
  bool was_;
};

template <typename F>
F real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

std::atomic<Shim*> g_shim{nullptr};

// The shim, created (and the library file read) on the first open of a
// path while D2T_EMULATOR is set.
Shim* shim() {
  static std::once_flag once;
  static Shim* instance = nullptr;
  std::call_once(once, [] {
    Busy_Guard busy;
    instance = new Shim;  // lives as long as the process
    const char* file = std::getenv("D2T_EMULATOR");
    if (!file || !*file) return;
    std::string error;
    std::shared_ptr<d2t::emulator::Library> library =
        d2t::emulator::Library::open(file, &error);
    if (!library) {
      std::fprintf(stderr, "d2t_preload: %s\n", error.c_str());
      return;
    }
    instance->provider = std::make_unique<Emulated_Provider>(std::move(library));
  });
  g_shim.store(instance);
  return instance;
}

// The shim if an open already created it: descriptor calls of programs
// that never open an emulated name cost one atomic load.
Shim* existing_shim() { return t_busy ? nullptr : g_shim.load(); }

// Opens `path` as an emulated device: -2 when it is not one.
int open_emulated(const char* path, int flags) {
  if (t_busy || !path || path[0] != '/' || !std::getenv("D2T_EMULATOR"))
    return -2;
  Shim* s = shim();
  if (!s->provider) return -2;
  Busy_Guard busy;
  std::unique_ptr<Emulated_Transport> t = s->provider->open_device(path, nullptr);
  if (!t) return -2;
  using Open_Fn = int (*)(const char*, int, ...);
  static Open_Fn real_open = real<Open_Fn>("open");
  int fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
  if (fd < 0) return -1;
  std::lock_guard<std::mutex> guard(s->mutex);
  Open_Device& d = s->fds[fd];
  d.transport = std::move(t);
  d.name = path;
  return fd;
}

// The emulated device behind `fd`, or null.
std::shared_ptr<Emulated_Transport> emulated(int fd, std::string* name = nullptr,
                                             int** timeout = nullptr) {
  Shim* s = existing_shim();
  if (!s) return nullptr;
  std::lock_guard<std::mutex> guard(s->mutex);
  auto it = s->fds.find(fd);
  if (it == s->fds.end()) return nullptr;
  if (name) *name = it->second.name;
  if (timeout) *timeout = &it->second.timeout;
  return it->second.transport;
}

unsigned trailing_number(const std::string& name) {
  std::size_t p = name.size();
  while (p > 0 && name[p - 1] >= '0' && name[p - 1] <= '9') --p;
  return p < name.size() ? static_cast<unsigned>(std::strtoul(name.c_str() + p, nullptr, 10)) : 0;
}

void fill_stat(const Emulated_Transport& t, const std::string& name,
               struct stat* st) {
  std::memset(st, 0, sizeof *st);
  unsigned n = trailing_number(name);
  unsigned major = SG_MAJOR, minor = n;
  if (name.find("/nst") != std::string::npos) {
    major = ST_MAJOR;
    minor = n + 128;
  } else if (name.find("/st") != std::string::npos) {
    major = ST_MAJOR;
  }
  st->st_mode = S_IFCHR | 0660;
  st->st_rdev = makedev(major, minor);
  st->st_dev = makedev(0, 5);
  st->st_ino = 0x10000 + major * 1024 + minor;
  st->st_nlink = 1;
  st->st_blksize = 4096;
  (void)t;
}

// H:C:T of a target name.
void parse_target(const std::string& target, int& host, int& channel, int& id) {
  host = channel = id = 0;
  std::sscanf(target.c_str(), "%d:%d:%d", &host, &channel, &id);
}

int sg_io(Emulated_Transport& t, sg_io_hdr_t* h, int timeout) {
  if (!h) {
    errno = EFAULT;
    return -1;
  }
  if (h->interface_id != 'S') {
    errno = ENOSYS;
    return -1;
  }
  if (h->iovec_count != 0 || !h->cmdp || h->cmd_len == 0) {
    errno = EINVAL;
    return -1;
  }
  d2t::scsi::Command cmd;
  cmd.cdb = h->cmdp;
  cmd.cdb_len = h->cmd_len;
  cmd.data = static_cast<std::uint8_t*>(h->dxferp);
  cmd.data_len = h->dxferp ? h->dxfer_len : 0;
  cmd.timeout_ms = h->timeout ? h->timeout : static_cast<unsigned>(timeout);
  switch (h->dxfer_direction) {
    case SG_DXFER_TO_DEV:
      cmd.direction = d2t::scsi::Direction::TO_DEVICE;
      break;
    case SG_DXFER_FROM_DEV:
    case SG_DXFER_TO_FROM_DEV:
      cmd.direction = d2t::scsi::Direction::FROM_DEVICE;
      break;
    default:
      cmd.direction = d2t::scsi::Direction::NONE;
      cmd.data_len = 0;
      break;
  }
  d2t::scsi::Outcome out;
  {
    Busy_Guard busy;
    out = t.execute(cmd);
  }
  if (out.os_errno != 0) {
    errno = out.os_errno;
    return -1;
  }
  h->status = out.status;
  h->masked_status = static_cast<unsigned char>((out.status >> 1) & 0x7F);
  h->msg_status = 0;
  h->host_status = 0;
  h->driver_status = 0;
  h->sb_len_wr = 0;
  if (!out.sense.empty() && h->sbp && h->mx_sb_len > 0) {
    std::size_t n = std::min<std::size_t>(out.sense.size(), h->mx_sb_len);
    std::memcpy(h->sbp, out.sense.data(), n);
    h->sb_len_wr = static_cast<unsigned char>(n);
    h->driver_status = 0x08;  // DRIVER_SENSE
  }
  h->resid = static_cast<int>(out.resid);
  h->duration = 0;
  h->info = out.status != 0 ? SG_INFO_CHECK : 0;
  return 0;
}

int emulated_ioctl(Emulated_Transport& t, int* timeout, unsigned long request,
                   void* arg) {
  int host, channel, id;
  parse_target(t.device().target_name, host, channel, id);
  const int lun = static_cast<int>(t.device().lun);
  switch (request) {
    case SG_IO:
      return sg_io(t, static_cast<sg_io_hdr_t*>(arg), *timeout);
    case SG_GET_VERSION_NUM:
      if (arg) *static_cast<int*>(arg) = SG_VERSION;
      return 0;
    case SG_SET_TIMEOUT:
      if (arg) *timeout = *static_cast<int*>(arg);
      return 0;
    case SG_GET_TIMEOUT:
      return *timeout;
    case SCSI_IOCTL_GET_IDLUN:
      if (arg) {
        int* p = static_cast<int*>(arg);
        p[0] = (id & 0xFF) | ((lun & 0xFF) << 8) | ((channel & 0xFF) << 16) |
               ((host & 0xFF) << 24);
        p[1] = host + 1;
      }
      return 0;
    case SCSI_IOCTL_GET_BUS_NUMBER:
      if (arg) *static_cast<int*>(arg) = host;
      return 0;
    case SG_GET_SCSI_ID:
      if (arg) {
        auto* p = static_cast<sg_scsi_id*>(arg);
        std::memset(p, 0, sizeof *p);
        p->host_no = host;
        p->channel = channel;
        p->scsi_id = id;
        p->lun = lun;
        p->scsi_type = t.device().kind == d2t::scsi::Device_Kind::CHANGER ? 8 : 1;
        p->h_cmd_per_lun = 1;
        p->d_queue_depth = 1;
      }
      return 0;
    case SG_GET_RESERVED_SIZE:
    case SG_GET_SG_TABLESIZE:
      if (arg) *static_cast<int*>(arg) = request == SG_GET_RESERVED_SIZE ? 65536 : 128;
      return 0;
    case SG_EMULATED_HOST:
    case SG_GET_COMMAND_Q:
    case SG_GET_NUM_WAITING:
    case SG_GET_PACK_ID:
    case SG_GET_KEEP_ORPHAN:
      if (arg) *static_cast<int*>(arg) = 0;
      return 0;
    case SG_SET_RESERVED_SIZE:
    case SG_SET_COMMAND_Q:
    case SG_SET_FORCE_PACK_ID:
    case SG_SET_KEEP_ORPHAN:
    case SG_SET_DEBUG:
      return 0;
    default:
      errno = ENOTTY;
      return -1;
  }
}

int forget(int fd) {
  Shim* s = existing_shim();
  if (!s) return 0;
  std::lock_guard<std::mutex> guard(s->mutex);
  return static_cast<int>(s->fds.erase(fd));
}

// A real descriptor: if its number once belonged to an emulated device
// closed behind our back (close_range, a closing dup2), forget that.
int opened(int fd) {
  if (fd >= 0) forget(fd);
  return fd;
}

mode_t mode_arg(int flags, va_list ap) {
  if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE)
    return static_cast<mode_t>(va_arg(ap, int));
  return 0;
}

}  // namespace

extern "C" {

int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int dirfd, const char* path, int flags);
int __openat64_2(int dirfd, const char* path, int flags);
int __fxstat(int ver, int fd, struct stat* st);
int __fxstat64(int ver, int fd, struct stat64* st);

#define D2T_OPEN_BODY(NAME)                                       \
  va_list ap;                                                     \
  va_start(ap, flags);                                            \
  mode_t mode = mode_arg(flags, ap);                              \
  va_end(ap);                                                     \
  int fd = open_emulated(path, flags);                            \
  if (fd != -2) return fd;                                        \
  using Fn = int (*)(const char*, int, ...);                      \
  static Fn next = real<Fn>(NAME);                                \
  return opened(next(path, flags, mode));

#define D2T_OPENAT_BODY(NAME)                                     \
  va_list ap;                                                     \
  va_start(ap, flags);                                            \
  mode_t mode = mode_arg(flags, ap);                              \
  va_end(ap);                                                     \
  int fd = open_emulated(path, flags);                            \
  if (fd != -2) return fd;                                        \
  using Fn = int (*)(int, const char*, int, ...);                 \
  static Fn next = real<Fn>(NAME);                                \
  return opened(next(dirfd, path, flags, mode));

int open(const char* path, int flags, ...) { D2T_OPEN_BODY("open") }
int open64(const char* path, int flags, ...) { D2T_OPEN_BODY("open64") }
int openat(int dirfd, const char* path, int flags, ...) {
  D2T_OPENAT_BODY("openat")
}
int openat64(int dirfd, const char* path, int flags, ...) {
  D2T_OPENAT_BODY("openat64")
}

int __open_2(const char* path, int flags) {
  int fd = open_emulated(path, flags);
  if (fd != -2) return fd;
  static auto next = real<int (*)(const char*, int)>("__open_2");
  return opened(next(path, flags));
}
int __open64_2(const char* path, int flags) {
  int fd = open_emulated(path, flags);
  if (fd != -2) return fd;
  static auto next = real<int (*)(const char*, int)>("__open64_2");
  return opened(next(path, flags));
}
int __openat_2(int dirfd, const char* path, int flags) {
  int fd = open_emulated(path, flags);
  if (fd != -2) return fd;
  static auto next = real<int (*)(int, const char*, int)>("__openat_2");
  return opened(next(dirfd, path, flags));
}
int __openat64_2(int dirfd, const char* path, int flags) {
  int fd = open_emulated(path, flags);
  if (fd != -2) return fd;
  static auto next = real<int (*)(int, const char*, int)>("__openat64_2");
  return opened(next(dirfd, path, flags));
}

int close(int fd) {
  forget(fd);
  static auto next = real<int (*)(int)>("close");
  return next(fd);
}

int dup2(int oldfd, int newfd) noexcept {
  static auto next = real<int (*)(int, int)>("dup2");
  int fd = next(oldfd, newfd);
  if (fd >= 0 && oldfd != newfd) forget(fd);
  return fd;
}

int dup3(int oldfd, int newfd, int flags) noexcept {
  static auto next = real<int (*)(int, int, int)>("dup3");
  int fd = next(oldfd, newfd, flags);
  if (fd >= 0) forget(fd);
  return fd;
}

int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  int* timeout = nullptr;
  if (std::shared_ptr<Emulated_Transport> t = emulated(fd, nullptr, &timeout))
    return emulated_ioctl(*t, timeout, request, arg);
  static auto next = real<int (*)(int, unsigned long, ...)>("ioctl");
  return next(fd, request, arg);
}

int fstat(int fd, struct stat* st) noexcept {
  std::string name;
  if (std::shared_ptr<Emulated_Transport> t = emulated(fd, &name)) {
    fill_stat(*t, name, st);
    return 0;
  }
  static auto next = real<int (*)(int, struct stat*)>("fstat");
  return next(fd, st);
}

int fstat64(int fd, struct stat64* st) noexcept {
  std::string name;
  if (std::shared_ptr<Emulated_Transport> t = emulated(fd, &name)) {
    static_assert(sizeof(struct stat) == sizeof(struct stat64),
                  "stat and stat64 share one layout on this platform");
    fill_stat(*t, name, reinterpret_cast<struct stat*>(st));
    return 0;
  }
  static auto next = real<int (*)(int, struct stat64*)>("fstat64");
  return next(fd, st);
}

// Programs built against older C libraries call these instead of fstat.
int __fxstat(int ver, int fd, struct stat* st) {
  std::string name;
  if (std::shared_ptr<Emulated_Transport> t = emulated(fd, &name)) {
    fill_stat(*t, name, st);
    return 0;
  }
  static auto next = reinterpret_cast<int (*)(int, int, struct stat*)>(
      dlvsym(RTLD_NEXT, "__fxstat", "GLIBC_2.2.5"));
  if (!next) return fstat(fd, st);
  return next(ver, fd, st);
}

int __fxstat64(int ver, int fd, struct stat64* st) {
  std::string name;
  if (std::shared_ptr<Emulated_Transport> t = emulated(fd, &name)) {
    fill_stat(*t, name, reinterpret_cast<struct stat*>(st));
    return 0;
  }
  static auto next = reinterpret_cast<int (*)(int, int, struct stat64*)>(
      dlvsym(RTLD_NEXT, "__fxstat64", "GLIBC_2.2.5"));
  if (!next) return fstat64(fd, st);
  return next(ver, fd, st);
}

}  // extern "C"
