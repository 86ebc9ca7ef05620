// The server's access log: one line per request, at info priority,
// written by a thread of its own.
//
// A polling thread that wrote the line itself would wait for the process
// log's lock while another thread writes, and for the log output (a slow
// disk, a journal that does not keep up); a polling thread preempted while
// holding that lock stalls every other. Here it only queues the line.
// Lines are written in the order queued. When `max_queued` lines wait
// (the output has stalled), further lines are dropped and counted, and the
// count is logged as a warning once the output moves again.
#ifndef WEBSVCS_SERVER_ACCESS_LOG_H
#define WEBSVCS_SERVER_ACCESS_LOG_H

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Access_Log {
 public:
  explicit Access_Log(std::size_t max_queued = 65536);
  // stop()
  ~Access_Log();
  Access_Log(const Access_Log&) = delete;
  Access_Log& operator=(const Access_Log&) = delete;

  // Queues `line` (no trailing newline). Without a thread (it could not be
  // started, or after stop()) the line is written at once.
  void write(std::string line);

  // Writes every queued line, then ends the thread. Idempotent.
  void stop();

 private:
  void run();

  const std::size_t max_queued_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::string> queued_;  // guarded by mutex_
  std::size_t dropped_ = 0;          // guarded by mutex_
  bool running_ = false;             // guarded by mutex_
  std::thread thread_;
};

#endif
