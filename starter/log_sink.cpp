#include "starter/log_sink.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "runtime/environ.h"

namespace {

struct Priority_Name {
  const char* name;
  ACE_Log_Priority priority;
  const char* label;  // shown in front of each line on a terminal or in a file
};

const Priority_Name PRIORITIES[] = {
    {"trace", LM_TRACE, "TRACE"},
    {"debug", LM_DEBUG, "DEBUG"},
    {"info", LM_INFO, "INFO"},
    {"notice", LM_NOTICE, "NOTICE"},
    {"warning", LM_WARNING, "WARNING"},
    {"error", LM_ERROR, "ERROR"},
    {"critical", LM_CRITICAL, "CRITICAL"},
    {"alert", LM_ALERT, "ALERT"},
    {"emergency", LM_EMERGENCY, "EMERGENCY"},
};

const char* label_of(ACE_Log_Priority priority) {
  for (const Priority_Name& p : PRIORITIES) {
    if (p.priority == priority) return p.label;
  }
  if (priority == LM_STARTUP) return "STARTUP";
  if (priority == LM_SHUTDOWN) return "SHUTDOWN";
  return "LOG";
}

// True when standard error is the stream that systemd connected to the
// journal: JOURNAL_STREAM holds "<device>:<inode>" of that stream.
bool stderr_is_journal() {
  const std::string stream = get_env_r("JOURNAL_STREAM");
  if (stream.empty()) return false;
  unsigned long long dev = 0, ino = 0;
  if (std::sscanf(stream.c_str(), "%llu:%llu", &dev, &ino) != 2) return false;
  struct stat st;
  if (::fstat(STDERR_FILENO, &st) != 0) return false;
  return st.st_dev == dev && st.st_ino == ino;
}

// Writes all of `text`, retrying after interrupted or partial writes.
void write_all(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}

Log_Sink* g_sink = nullptr;

// True while the calling thread is inside Log_Sink::log with the lock held.
thread_local bool t_inside_log = false;
// True while the calling thread formats or writes a line in t_line.
thread_local bool t_inside_log_i = false;
// The calling thread's line buffer.
thread_local std::string t_line;

// What the head of a line needs that rarely changes, per thread: the local
// time text of one second, and the process and thread ids.
struct Line_Head {
  unsigned generation = 0;  // g_fork_generation when the ids were asked for
  long pid = 0;
  long tid = 0;
  time_t second = -1;   // the second `stamp` shows
  char stamp[32] = "";  // "YYYY-MM-DD HH:MM:SS"
  size_t stamp_length = 0;
};
thread_local Line_Head t_head;

// Counts forks, in the child: the thread that forked has other ids there.
std::atomic<unsigned> g_fork_generation{0};
[[maybe_unused]] const int g_fork_counted =
    ::pthread_atfork(nullptr, nullptr, [] { g_fork_generation.fetch_add(1); });

}  // namespace

Log_Config parse_log_config(const char* file, const char* priority) {
  Log_Config config;
  if (file != nullptr && *file != '\0') {
    if (std::strcmp(file, "syslog") == 0) {
      config.target = Log_Config::TO_SYSLOG;
    } else {
      config.target = Log_Config::TO_FILE;
      config.path = file;
    }
  }
  if (priority != nullptr && *priority != '\0') {
    config.priority_valid = false;
    for (const Priority_Name& p : PRIORITIES) {
      if (::strcasecmp(p.name, priority) == 0) {
        config.lowest = p.priority;
        config.priority_valid = true;
        break;
      }
    }
  }
  return config;
}

unsigned long priority_mask_from(ACE_Log_Priority lowest) {
  unsigned long mask = 0;
  for (unsigned long p = lowest; p <= LM_EMERGENCY; p <<= 1) mask |= p;
  return mask;
}

int syslog_level_of(ACE_Log_Priority priority) {
  switch (priority) {
    case LM_EMERGENCY:
      return LOG_EMERG;
    case LM_ALERT:
      return LOG_ALERT;
    case LM_CRITICAL:
      return LOG_CRIT;
    case LM_ERROR:
      return LOG_ERR;
    case LM_WARNING:
      return LOG_WARNING;
    case LM_NOTICE:
      return LOG_NOTICE;
    case LM_INFO:
    case LM_STARTUP:
    case LM_SHUTDOWN:
      return LOG_INFO;
    default:
      return LOG_DEBUG;
  }
}

Log_Sink::Log_Sink(const Log_Config& config) : config_(config) {}

Log_Sink::~Log_Sink() { close(); }

int Log_Sink::open(const ACE_TCHAR*) {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, -1);
  if (config_.target == Log_Config::TO_FILE && owns_fd_i()) return 0;
  close_i();
  if (open_i() != 0) open_error_ = errno;
  return 0;
}

int Log_Sink::reset() {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, -1);
  if (config_.target != Log_Config::TO_FILE) {
    close_i();
    open_i();
    return 0;
  }
  const int old_fd = owns_fd_i() ? fd_ : -1;
  const unsigned long long old_dev = fd_dev_, old_ino = fd_ino_;
  fd_ = -1;
  if (open_i() == 0) {
    if (old_fd >= 0) ::close(old_fd);
    return 0;
  }
  const int error = errno;
  // Keep writing to the file still open rather than to standard error. When
  // the path still names that file, or cannot be looked at (ACE_Log_Msg::
  // open resets its back end, also after the switch to a user who may not
  // even enter the file's directory), nothing is lost and there is nothing
  // to report.
  fd_ = old_fd;
  fd_dev_ = old_dev;
  fd_ino_ = old_ino;
  struct stat st;
  const int rc = ::stat(config_.path.c_str(), &st);
  const bool moved = rc == 0 ? st.st_dev != old_dev || st.st_ino != old_ino : errno == ENOENT;
  if (old_fd < 0 || moved) open_error_ = error;
  return 0;
}

int Log_Sink::take_open_error() {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, 0);
  const int error = open_error_;
  open_error_ = 0;
  return error;
}

int Log_Sink::close() {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, -1);
  close_i();
  return 0;
}

bool Log_Sink::owns_fd_i() const {
  struct stat st;
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_dev == fd_dev_ && st.st_ino == fd_ino_;
}

int Log_Sink::open_i() {
  switch (config_.target) {
    case Log_Config::TO_FILE: {
      // An explicit mode: the umask may be 0 after daemonising. Opened as
      // root, so a symbolic link is refused (ELOOP): it could point the
      // daemon's writes at any file.
      const int fd = ::open(config_.path.c_str(),
                            O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0640);
      if (fd < 0) return -1;
      struct stat st;
      if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
      }
      fd_ = fd;
      fd_dev_ = st.st_dev;
      fd_ino_ = st.st_ino;
      break;
    }
    case Log_Config::TO_SYSLOG:
      ::openlog(nullptr, LOG_PID, LOG_DAEMON);
      syslog_open_ = true;
      break;
    case Log_Config::TO_STDERR:
      journal_ = stderr_is_journal();
      break;
  }
  return 0;
}

void Log_Sink::close_i() {
  // A descriptor closed by daemonising may already name another file:
  // only the sink's own file is closed.
  if (owns_fd_i()) ::close(fd_);
  fd_ = -1;
  if (syslog_open_) {
    ::closelog();
    syslog_open_ = false;
  }
}

std::string Log_Sink::format(ACE_Log_Priority priority, const char* text) const {
  std::string out;
  format_into(out, priority, text);
  return out;
}

void Log_Sink::format_into(std::string& out, ACE_Log_Priority priority, const char* text) const {
  out.clear();
  const char* body = text != nullptr ? text : "";
  const size_t length = std::strlen(body);
  const bool ends_line = length > 0 && body[length - 1] == '\n';

  if (journal_ && config_.target == Log_Config::TO_STDERR) {
    // Every line gets the level prefix: the journal splits at newlines.
    const char prefix[4] = {'<', static_cast<char>('0' + syslog_level_of(priority)), '>', '\0'};
    size_t start = 0;
    while (start < length) {
      const char* end = static_cast<const char*>(std::memchr(body + start, '\n', length - start));
      const size_t stop = end != nullptr ? static_cast<size_t>(end - body) + 1 : length;
      out.append(prefix, 3);
      out.append(body + start, stop - start);
      start = stop;
    }
    if (!ends_line) {
      if (length == 0) out.append(prefix, 3);
      out += '\n';
    }
    return;
  }

  // Formatting the local time of every line (localtime, strftime) costs
  // as much as the rest of the line: it is done once per second per thread.
  // The ids are asked for once per thread, and again after a fork.
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  Line_Head& head = t_head;
  const unsigned generation = g_fork_generation.load(std::memory_order_relaxed);
  if (head.generation != generation || head.pid == 0) {
    head.generation = generation;
    head.pid = static_cast<long>(::getpid());
    head.tid = static_cast<long>(::syscall(SYS_gettid));
    head.second = -1;
  }
  if (head.second != now.tv_sec) {
    struct tm tm;
    ::localtime_r(&now.tv_sec, &tm);
    head.stamp_length = std::strftime(head.stamp, sizeof head.stamp, "%Y-%m-%d %H:%M:%S", &tm);
    head.second = now.tv_sec;
  }
  char tail[96];
  const int n = std::snprintf(tail, sizeof tail, ".%03ld %s [%ld:%ld] ",
                              static_cast<long>(now.tv_nsec / 1000000), label_of(priority),
                              head.pid, head.tid);
  const size_t tail_length = n > 0 ? std::min(static_cast<size_t>(n), sizeof tail - 1) : 0;
  // Every line of the record gets the head, as every line in the journal
  // gets its prefix: a record of several lines (a batch of access lines)
  // reads, and is searched, like as many records.
  out.reserve(head.stamp_length + sizeof tail + length + 1);
  size_t start = 0;
  do {
    const char* end = static_cast<const char*>(std::memchr(body + start, '\n', length - start));
    const size_t stop = end != nullptr ? static_cast<size_t>(end - body) + 1 : length;
    out.append(head.stamp, head.stamp_length);
    out.append(tail, tail_length);
    out.append(body + start, stop - start);
    start = stop;
  } while (start < length);
  if (!ends_line) out += '\n';
}

ssize_t Log_Sink::log(ACE_Log_Record& record) {
  const ACE_Log_Priority priority = static_cast<ACE_Log_Priority>(record.type());
  const char* text = record.msg_data();
  if (t_inside_log) {
    // A signal handler (a fatal signal's stack trace) interrupted this
    // thread inside log(): the lock is already this thread's, and waiting
    // for it would hang the dying process.
    return log_i(priority, text);
  }
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, -1);
  t_inside_log = true;
  const ssize_t n = log_i(priority, text);
  t_inside_log = false;
  return n;
}

ssize_t Log_Sink::log_i(ACE_Log_Priority priority, const char* text) {
  if (config_.target == Log_Config::TO_SYSLOG) {
    // One entry per line, as the other outputs give every line its head.
    const char* body = text != nullptr ? text : "";
    const char* end = std::strchr(body, '\n');
    if (end == nullptr || end[1] == '\0') {
      ::syslog(syslog_level_of(priority), "%s", body);
      return 0;
    }
    for (; *body != '\0'; body = *end != '\0' ? end + 1 : end) {
      end = std::strchr(body, '\n');
      if (end == nullptr) end = body + std::strlen(body);
      ::syslog(syslog_level_of(priority), "%.*s", static_cast<int>(end - body), body);
    }
    return 0;
  }
  // One buffer per thread, kept between lines so that a line costs no
  // allocation; a signal handler that interrupted this thread while it was
  // writing the buffer gets a buffer of its own.
  std::string own;
  std::string& line = t_inside_log_i ? own : t_line;
  t_inside_log_i = true;
  format_into(line, priority, text);
  write_all(fd_ >= 0 ? fd_ : STDERR_FILENO, line);
  if (&line == &t_line) t_inside_log_i = false;
  return static_cast<ssize_t>(line.size());
}

void install_log_sink() {
  if (g_sink != nullptr) return;
  const std::string file = get_env_r("D2T_LOG_FILE");
  const std::string priority = get_env_r("D2T_LOG_PRIORITY");
  const Log_Config config = parse_log_config(file.c_str(), priority.c_str());

  // Never freed: records may arrive from any thread until the process ends.
  g_sink = new (std::nothrow) Log_Sink(config);
  if (g_sink == nullptr) return;  // ACE keeps logging to standard error
  ::pthread_atfork([] { g_sink->before_fork(); }, [] { g_sink->after_fork(); },
                   [] { g_sink->after_fork(); });
  g_sink->open(nullptr);
  const int open_errno = g_sink->take_open_error();

  ACE_Log_Msg::msg_backend(g_sink);
  ACE_Log_Msg* log = ACE_LOG_MSG;
  log->set_flags(ACE_Log_Msg::CUSTOM);
  log->clr_flags(ACE_Log_Msg::STDERR);
  log->priority_mask(priority_mask_from(config.lowest), ACE_Log_Msg::PROCESS);

  if (!config.priority_valid) {
    ACE_ERROR(
        (LM_WARNING, "Unknown log priority D2T_LOG_PRIORITY=%C, using debug\n", priority.c_str()));
  }
  if (open_errno == ELOOP) {
    ACE_ERROR((LM_WARNING, "Log file %C is a symbolic link: refused, logging to stderr\n",
               config.path.c_str()));
  } else if (open_errno != 0) {
    errno = open_errno;
    ACE_ERROR((LM_WARNING, "Failed to open log file %C, errno=%d, %m, logging to stderr\n",
               config.path.c_str(), open_errno));
  }
}

void reopen_log_sink() {
  if (g_sink != nullptr) g_sink->reset();
}

void report_log_sink_errors() {
  if (g_sink == nullptr) return;
  const int error = g_sink->take_open_error();
  if (error == 0) return;
  errno = error;
  ACE_ERROR((LM_WARNING, "Failed to open log file %C as uid %d, errno=%d, %m\n",
             get_env_r("D2T_LOG_FILE").c_str(), static_cast<int>(::getuid()), error));
}
