// Process-wide destination of every ACE_Log_Msg record.
//
// ACE_Log_Msg keeps its output stream per thread, so messages logged from
// threads that ACE did not create (std::thread, an HTTP library's workers)
// are lost unless a process-wide back end receives them. `Log_Sink` is that
// back end: once installed, every record of every thread is written to one
// output, one whole line per write, so that lines of concurrent threads never
// interleave.
//
// Outputs:
//   - standard error (the default). When standard error is connected to the
//     systemd journal (JOURNAL_STREAM names it), each line carries a "<N>"
//     syslog-level prefix and no time stamp, because the journal adds its own;
//     otherwise each line starts with a local time stamp, the priority name,
//     and the process and thread ids.
//   - a file, appended to, created with mode 0640 whatever the umask.
//   - syslog, facility LOG_DAEMON.
//
// The configuration comes from the environment (see starter/README.md):
//   D2T_LOG_FILE      unset or empty: standard error; "syslog": syslog;
//                     anything else: the path of a log file.
//   D2T_LOG_PRIORITY  lowest priority written: trace, debug (default), info,
//                     notice, warning, error, critical, alert, emergency.

#ifndef STARTER_LOG_SINK_H
#define STARTER_LOG_SINK_H

#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Priority.h>
#include <ace/Thread_Mutex.h>

#include <string>

struct Log_Config {
  enum Target { TO_STDERR, TO_FILE, TO_SYSLOG };

  Target target = TO_STDERR;
  std::string path;  // the log file when target is TO_FILE
  ACE_Log_Priority lowest = LM_DEBUG;
  bool priority_valid = true;  // false when the priority text was not understood
};

// Reads the configuration from the two texts (either may be null or empty).
// An unknown priority text leaves `lowest` at its default and clears
// `priority_valid`.
Log_Config parse_log_config(const char* file, const char* priority);

// The ACE priority mask holding `lowest` and every more severe priority.
unsigned long priority_mask_from(ACE_Log_Priority lowest);

// Syslog level (LOG_DEBUG ... LOG_EMERG) of an ACE priority.
int syslog_level_of(ACE_Log_Priority priority);

class Log_Sink : public ACE_Log_Msg_Backend {
 public:
  explicit Log_Sink(const Log_Config& config);
  ~Log_Sink() override;

  Log_Sink(const Log_Sink&) = delete;
  Log_Sink& operator=(const Log_Sink&) = delete;

  // Opens the output. A log file already open (still the same file at the
  // same descriptor) is kept: the service configurator calls this again
  // after the host has switched to its service user, who may not be allowed
  // to open the file that root opened. When the file cannot be opened the
  // sink writes to standard error instead; the failure is kept for
  // take_open_error(). Returns 0, so that the log output is never a reason
  // for the configurator to stop.
  int open(const ACE_TCHAR* logger_key) override;

  // Opens the output afresh: used after daemonising, which closes every
  // descriptor, and when a log file was rotated. When a new file cannot be
  // opened, a file still open stays in use (else standard error); the
  // failure is kept for take_open_error() unless the path still names the
  // file in use. Returns 0.
  int reset() override;

  // The errno of the last failed attempt to open the log file that has not
  // been taken yet, or 0. Clears it.
  int take_open_error();

  int close() override;

  // Writes one record. Thread-safe. A record whose text does not end in a
  // newline gets one. A call made on a thread that is already inside log()
  // (a signal handler that interrupted it) writes without waiting for the
  // lock that thread holds.
  ssize_t log(ACE_Log_Record& record) override;

  // The text that `log` writes for a record of `priority` with `text`:
  // exposed so the line format can be checked without an output.
  std::string format(ACE_Log_Priority priority, const char* text) const;
  // The same into `out` (cleared first), reusing its storage.
  void format_into(std::string& out, ACE_Log_Priority priority, const char* text) const;

  // Fork handlers: the lock is held across fork() so that the child never
  // inherits it taken by a thread that does not exist there.
  void before_fork() { lock_.acquire(); }
  void after_fork() { lock_.release(); }

 private:
  // Opens the configured output; for a file, -1 (errno set) when it cannot
  // be opened, fd_ then unchanged.
  int open_i();
  void close_i();
  // True when fd_ is the descriptor this sink opened and still names the
  // same file (daemonising closes it; its number may be reused).
  bool owns_fd_i() const;
  // Writes one record; the caller holds lock_.
  ssize_t log_i(ACE_Log_Priority priority, const char* text);

  Log_Config config_;
  int fd_ = -1;                                 // log file descriptor; -1 for stderr and syslog
  unsigned long long fd_dev_ = 0, fd_ino_ = 0;  // identity of the file at fd_
  int open_error_ = 0;                          // errno of an unreported failed open
  bool journal_ = false;                        // standard error is the systemd journal
  bool syslog_open_ = false;
  ACE_Thread_Mutex lock_;  // guards fd_, journal_ and syslog_open_
};

// Installs a Log_Sink configured from D2T_LOG_FILE and D2T_LOG_PRIORITY as
// the process-wide back end of ACE_Log_Msg (the CUSTOM flag, standard error
// output of ACE itself switched off) and sets the process priority mask.
// Logs a warning when the priority text or the log file is not usable.
// The sink lives until the process exits.
void install_log_sink();

// Reopens the installed sink's output (after daemonising). No-op when
// install_log_sink has not run.
void reopen_log_sink();

// Logs a warning when the installed sink fell back to standard error since
// the last call (for example when the service configurator reopened it).
void report_log_sink_errors();

#endif
