// The server's access log: one line per request, at info priority, written
// by a thread of its own.
//
// A polling thread that wrote the line itself would wait for the process
// log's lock while another thread writes, and for the log output (a slow
// disk, a journal that does not keep up); a polling thread preempted while
// holding that lock stalls every other. Here a line costs the request only
// a copy into a buffer of the calling thread (its lock is taken by no other
// thread but the writer, for a moment every interval) and a number from a
// shared counter that keeps the order: no allocation, no wait for another
// polling thread, and no wake-up but for the first line after a quiet
// spell. While lines come, the writing thread takes every buffer each
// `flush_interval` (sooner once one holds FLUSH_BYTES) and hands the lines
// to the process log in the order they were added, several whole lines to
// a record; while none come, it sleeps. stop() writes every line still
// waiting. When `max_queued` lines of one thread wait (the output has
// stalled), further lines of that thread are dropped and counted, and the
// count is logged as a warning once the output moves again.
#ifndef WEBSVCS_SERVER_ACCESS_LOG_H
#define WEBSVCS_SERVER_ACCESS_LOG_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Access_Log {
 public:
  // Lines of one thread that wake the writing thread before its interval
  // ends.
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
  // The lines of one writing thread: each is its order number (8 bytes),
  // its text and '\n'.
  struct Shard {
    std::mutex mutex;
    std::string lines;        // guarded by mutex
    std::size_t count = 0;    // lines held; guarded by mutex
    std::size_t dropped = 0;  // guarded by mutex
    bool closed = false;      // stopped: lines are written at once; guarded by mutex
    std::string taken;        // the writer's: the lines it took last
  };
  // A line taken, in a shard's `taken` or in held_taken_.
  struct Entry {
    std::uint64_t order;
    const char* text;
    std::size_t length;
  };

  Shard* shard_of_this_thread();
  void run();
  // Takes every shard's lines and writes, in order, those numbered before
  // any line still being added (all of them when `last`: the shards are
  // then closed); the others are held for the next pass. Returns the
  // number below which every line is now written.
  std::uint64_t write_waiting(bool last);

  const std::uint64_t id_;  // tells this log from one that had its address
  const std::size_t max_queued_;
  const std::chrono::milliseconds flush_interval_;
  std::atomic<std::uint64_t> next_order_{0};
  std::atomic<bool> flush_now_{false};
  std::atomic<bool> sleeping_{false};  // the writer waits for a line; set under mutex_
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::unique_ptr<Shard>> shards_;  // guarded by mutex_; never shrinks
  std::vector<std::thread::id> owners_;         // of each shard; guarded by mutex_
  bool running_ = false;                        // guarded by mutex_
  // The writer's own.
  std::vector<Entry> entries_;
  std::string held_, held_taken_;  // lines held back, as in a shard
  std::string record_;
  std::thread thread_;
};

#endif
