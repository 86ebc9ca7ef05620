// The server's access log: one line per request, at info priority, written
// by a thread of its own.
//
// A polling thread that wrote the line itself would wait for the process
// log's lock while another thread writes, and for the log output (a slow
// disk, a journal that does not keep up); a polling thread preempted while
// holding that lock stalls every other. Here a line costs the request only
// a copy into a buffer under a short lock: no allocation, no wake-up. The
// writing thread takes the whole buffer every `flush_interval`, or sooner
// once FLUSH_BYTES wait, and hands its lines to the process log one record
// each, in the order they were added. stop() writes every line still
// waiting. When `max_queued` lines wait (the output has stalled), further
// lines are dropped and counted, and the count is logged as a warning once
// the output moves again.
#ifndef WEBSVCS_SERVER_ACCESS_LOG_H
#define WEBSVCS_SERVER_ACCESS_LOG_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

class Access_Log {
 public:
  // Waiting lines that wake the writing thread before its interval ends.
  static const std::size_t FLUSH_BYTES = 65536;

  explicit Access_Log(std::size_t max_queued = 65536,
                      std::chrono::milliseconds flush_interval = std::chrono::milliseconds(50));
  // stop()
  ~Access_Log();
  Access_Log(const Access_Log&) = delete;
  Access_Log& operator=(const Access_Log&) = delete;

  // Queues the `length` bytes at `line` as one line (no trailing newline;
  // a newline inside would split it, so callers escape their text). Without
  // a thread (it could not be started, or after stop()) the line is
  // written at once.
  void write(const char* line, std::size_t length);
  void write(const std::string& line) { write(line.data(), line.size()); }

  // Writes every queued line, then ends the thread. Idempotent.
  void stop();

 private:
  void run();

  const std::size_t max_queued_;
  const std::chrono::milliseconds flush_interval_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string queued_;            // lines, each ended by '\n'; guarded by mutex_
  std::size_t queued_lines_ = 0;  // guarded by mutex_
  std::size_t dropped_ = 0;       // guarded by mutex_
  bool flush_now_ = false;        // FLUSH_BYTES reached; guarded by mutex_
  bool running_ = false;          // guarded by mutex_
  std::thread thread_;
};

#endif
