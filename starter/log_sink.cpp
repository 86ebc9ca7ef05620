#include "starter/log_sink.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

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
    {"trace", LM_TRACE, "TRACE"},         {"debug", LM_DEBUG, "DEBUG"},
    {"info", LM_INFO, "INFO"},            {"notice", LM_NOTICE, "NOTICE"},
    {"warning", LM_WARNING, "WARNING"},   {"error", LM_ERROR, "ERROR"},
    {"critical", LM_CRITICAL, "CRITICAL"}, {"alert", LM_ALERT, "ALERT"},
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
  const bool moved =
      rc == 0 ? st.st_dev != old_dev || st.st_ino != old_ino : errno == ENOENT;
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
      // An explicit mode: the umask may be 0 after daemonising.
      const int fd =
          ::open(config_.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
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
  std::string body = text != nullptr ? text : "";
  if (body.empty() || body.back() != '\n') body += '\n';

  std::string out;
  if (journal_ && config_.target == Log_Config::TO_STDERR) {
    // Every line gets the level prefix: the journal splits at newlines.
    const std::string prefix = "<" + std::to_string(syslog_level_of(priority)) + ">";
    size_t start = 0;
    while (start < body.size()) {
      const size_t end = body.find('\n', start);
      out += prefix;
      out.append(body, start, end - start + 1);
      start = end + 1;
    }
    return out;
  }

  struct timeval tv;
  ::gettimeofday(&tv, nullptr);
  struct tm tm;
  ::localtime_r(&tv.tv_sec, &tm);
  char head[96];
  const size_t n = std::strftime(head, sizeof head, "%Y-%m-%d %H:%M:%S", &tm);
  std::snprintf(head + n, sizeof head - n, ".%03ld %s [%ld:%ld] ",
                static_cast<long>(tv.tv_usec / 1000), label_of(priority),
                static_cast<long>(::getpid()), static_cast<long>(::syscall(SYS_gettid)));
  out = head;
  out += body;
  return out;
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
    ::syslog(syslog_level_of(priority), "%s", text != nullptr ? text : "");
    return 0;
  }
  const std::string line = format(priority, text);
  write_all(fd_ >= 0 ? fd_ : STDERR_FILENO, line);
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
    ACE_ERROR((LM_WARNING, "Unknown log priority D2T_LOG_PRIORITY=%C, using debug\n",
               priority.c_str()));
  }
  if (open_errno != 0) {
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
