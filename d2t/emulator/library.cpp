#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/io.h"
#include "d2t/emulator/library_impl.h"
#include "d2t/emulator/operation_log.h"
#include "json_spirit/json_spirit.h"

namespace d2t {
namespace emulator {

namespace {

// A library file modified this recently may change again without a new
// stamp (coarse file timestamps), so its content is compared as well.
const long long RECENT_NS = 2000000000LL;

long long wall_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string new_epoch() {
  std::random_device rd;
  std::uint64_t v = (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^
                    static_cast<std::uint64_t>(wall_ns()) ^ static_cast<std::uint64_t>(::getpid());
  char buf[20];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

const Changer_Config* find_config(const Library_Config& lib, const std::string& serial) {
  for (const Changer_Config& c : lib.changers)
    if (c.serial_number == serial) return &c;
  return nullptr;
}

bool Library_Impl::refresh_config(std::string* error) {
  File_Stamp stamp;
  if (!stamp_path(file_, stamp)) {
    if (config_) return true;  // keep the last good configuration
    if (error) *error = file_ + ": " + std::strerror(errno);
    return false;
  }
  bool recent = wall_ns() - stamp.mtime_ns < RECENT_NS;
  if (config_ && stamp == config_stamp_ && !recent) return true;
  Fd fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
  std::string text;
  if (!fd.valid() || !read_all(fd.get(), text)) {
    if (config_) return true;
    if (error) *error = file_ + ": " + std::strerror(errno);
    return false;
  }
  std::size_t hash = std::hash<std::string>()(text);
  if (config_ && stamp == config_stamp_ && hash == config_hash_) return true;
  auto lib = std::make_shared<Library_Config>();
  std::string err;
  if (!parse_library(text, file_, *lib, &err)) {
    if (config_) return true;  // half-written or broken edit: keep going
    if (error) *error = err;
    return false;
  }
  config_ = lib;
  config_stamp_ = stamp;
  config_hash_ = hash;
  char h[20];
  std::snprintf(h, sizeof h, "%016llx", static_cast<unsigned long long>(hash));
  fault_signature_ = stamp.text() + "#" + h;
  return true;
}

void Library_Impl::remember_loads(const Changer_State& c, bool overwrite) {
  auto& seen = seen_loads_[c.serial_number];
  if (!overwrite && seen.size() == c.drive.size()) return;
  seen.clear();
  for (const Drive_State& d : c.drive) seen.push_back(d.load_seq);
}

Library_State Library_Impl::fresh_state(const Library_Config& lib) {
  Library_State s;
  s.epoch = new_epoch();
  for (const Changer_Config& c : lib.changers) {
    s.changers.push_back(seed_changer(c));
    remember_loads(s.changers.back(), true);
  }
  return s;  // faults are filled in by reconcile()
}

bool Library_Impl::load_state(bool& dirty, std::string* error) {
  const std::string& path = config_->state_file;
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    if (errno != ENOENT) {
      if (error) *error = path + ": " + std::strerror(errno);
      return false;
    }
    state_ = fresh_state(*config_);
    state_loaded_ = true;
    dirty = true;
    return true;
  }
  if (state_loaded_) {
    char head[128];
    ssize_t n = ::pread(fd.get(), head, sizeof head, 0);
    std::string epoch;
    std::uint64_t generation = 0;
    if (n > 0) {
      std::string prefix(head, static_cast<std::size_t>(n));
      prefix.resize(prefix.find('\n') == std::string::npos ? prefix.size() : prefix.find('\n') + 1);
      if (parse_state_header(prefix, epoch, generation) && epoch == state_.epoch &&
          generation == state_.generation)
        return true;  // nobody changed it since we read or wrote it
    }
  }
  std::string text;
  if (!read_all(fd.get(), text)) {
    if (error) *error = path + ": " + std::strerror(errno);
    return false;
  }
  Library_State s;
  if (!parse_state(text, s, error)) {
    if (error) *error = path + ": " + *error;
    state_loaded_ = false;
    return false;
  }
  state_ = std::move(s);
  state_loaded_ = true;
  for (const Changer_State& c : state_.changers) remember_loads(c, false);
  return true;
}

bool Library_Impl::reconcile(const Library_Config& lib) {
  bool changed = false;
  for (const Changer_Config& cc : lib.changers) {
    Changer_State* cs = state_.find(cc.serial_number);
    if (cs && same_layout(*cs, cc)) continue;
    if (cs)
      *cs = seed_changer(cc);
    else
      state_.changers.push_back(seed_changer(cc));
    remember_loads(cs ? *cs : state_.changers.back(), true);
    changed = true;
  }
  if (state_.fault_signature != fault_signature_) {
    state_.fault_signature = fault_signature_;
    state_.faults.clear();
    for (const Changer_Config& cc : lib.changers) {
      for (const Fault_Config& f : cc.faults) {
        Fault_State fs;
        fs.fault = f;
        fs.fault.changer = cc.serial_number;
        fs.remaining = f.times;
        if (fs.remaining > 0) state_.faults.push_back(fs);
      }
    }
    changed = true;
  }
  return changed;
}

bool Library_Impl::transact(const Step& fn, std::string* error, bool fresh) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!refresh_config(error)) return false;
  std::shared_ptr<const Library_Config> lib = config_;
  std::string lock_path = lib->state_file + ".lock";
  if (!lock_fd_.valid() || lock_path != lock_path_) {
    lock_fd_.reset(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    lock_path_ = lock_path;
    state_loaded_ = false;
    if (!lock_fd_.valid()) {
      if (error) *error = lock_path + ": " + std::strerror(errno);
      return false;
    }
  }
  Flock_Guard flock(lock_fd_.get());
  if (!flock.locked()) {
    if (error) *error = lock_path + ": " + std::strerror(errno);
    return false;
  }
  bool dirty = false;
  if (fresh) {
    state_ = fresh_state(*lib);
    state_loaded_ = true;
    dirty = true;
  } else if (!load_state(dirty, error)) {
    return false;
  }
  if (reconcile(*lib)) dirty = true;
  if (fn && fn(*lib, state_)) dirty = true;
  if (!dirty) return true;
  ++state_.generation;
  if (!replace_file(lib->state_file, serialize_state(state_), error)) {
    state_loaded_ = false;  // memory is ahead of the file: re-read next time
    return false;
  }
  return true;
}

// --- Library ---

Library::Library(std::unique_ptr<Library_Impl> impl) : impl_(std::move(impl)) {}
Library::~Library() = default;

std::shared_ptr<Library> Library::open(const std::string& library_file, std::string* error,
                                       std::shared_ptr<Clock> clock) {
  auto impl = std::make_unique<Library_Impl>();
  impl->file_ = library_file;
  impl->clock_ = clock ? std::move(clock) : system_clock();
  if (!impl->transact(nullptr, error)) return nullptr;
  return std::shared_ptr<Library>(new Library(std::move(impl)));
}

std::shared_ptr<const Library_Config> Library::config() {
  std::lock_guard<std::mutex> guard(impl_->mutex_);
  impl_->refresh_config(nullptr);
  return impl_->config_;
}

const std::string& Library::library_file() const { return impl_->file_; }
Clock& Library::clock() { return *impl_->clock_; }

bool Library::cartridges(std::vector<Cartridge_Info>& out, std::string* error) {
  out.clear();
  return impl_->transact(
      [&](const Library_Config& lib, Library_State& state) {
        for (const Changer_Config& cc : lib.changers) {
          const Changer_State* cs = state.find(cc.serial_number);
          for (std::uint32_t e = 0; e < cs->elements(); ++e) {
            std::int32_t k = cs->occupant[e];
            if (k < 0) continue;
            const Cartridge_State& c = cs->cartridges[k];
            Cartridge_Info info;
            info.changer_serial = cc.serial_number;
            info.barcode = c.barcode;
            info.cleaning = c.cleaning;
            info.capacity = c.capacity;
            if (cs->is_drive(static_cast<std::int32_t>(e))) {
              info.place = Place::DRIVE;
              info.drive = static_cast<std::int32_t>(e - cs->storage - cs->porter);
              info.drive_serial = cc.drives[info.drive].serial_number;
              info.home_slot = c.source >= 0 ? c.source + 1 : 0;
              info.threaded = cs->drive[info.drive].threaded;
            } else {
              info.place = e < cs->storage ? Place::STORAGE : Place::PORTER;
              info.slot = static_cast<std::int32_t>(e) + 1;
            }
            out.push_back(std::move(info));
          }
        }
        return false;
      },
      error);
}

bool Library::reset(std::string* error) { return impl_->transact(nullptr, error, true); }

bool Library::element_status(
    const std::string& changer_serial, std::uint8_t type, std::uint16_t first, std::uint16_t count,
    const std::function<void(const Changer_Config&, const Changer_State&)>& fn,
    std::string* error) {
  std::shared_ptr<const Library_Config> lib = config();
  Operation_Record record;
  record.op = "status";
  record.changer = changer_serial;
  record.element_type = type;
  record.first = first;
  record.count = count;
  record.start_ms = impl_->clock_->now_ms();
  const Changer_Config* cc = find_config(*lib, changer_serial);
  if (cc && timing_of(*lib, *cc).status_ms > 0)
    impl_->clock_->sleep_ms(timing_of(*lib, *cc).status_ms);
  record.good = view(changer_serial, fn, error);
  record.end_ms = impl_->clock_->now_ms();
  append_operation(lib->operation_log, record);
  return record.good;
}

bool Library::view(const std::string& changer_serial,
                   const std::function<void(const Changer_Config&, const Changer_State&)>& fn,
                   std::string* error) {
  bool found = false;
  bool ok = impl_->transact(
      [&](const Library_Config& lib, Library_State& state) {
        const Changer_Config* cc = find_config(lib, changer_serial);
        const Changer_State* cs = state.find(changer_serial);
        if (cc && cs) {
          found = true;
          fn(*cc, *cs);
        }
        return false;
      },
      error);
  if (ok && !found && error) *error = "no changer " + changer_serial;
  return ok && found;
}

}  // namespace emulator
}  // namespace d2t
