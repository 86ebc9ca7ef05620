// Threads that run the server's handler calls, so that the few polling
// threads never wait for a robot.
//
// A job is handed straight to the thread that became idle last (its stack
// and caches are still warm; the others stay asleep and end when idle long
// enough). A thread is started whenever a job arrives and no thread is idle,
// up to `max_threads`; past that, jobs wait in arrival order. A thread idle
// for `idle_time` ends. So threads follow the requests being handled, not the
// connections held open. Threads are created with the termination signals
// blocked, so those reach the process's own handlers.
#ifndef WEBSVCS_SERVER_WORKER_POOL_H
#define WEBSVCS_SERVER_WORKER_POOL_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Worker_Pool {
 public:
  Worker_Pool(std::size_t max_threads, std::chrono::milliseconds idle_time);
  // stop()
  ~Worker_Pool();
  Worker_Pool(const Worker_Pool&) = delete;
  Worker_Pool& operator=(const Worker_Pool&) = delete;

  // Queues `job`. False (the job is dropped) after stop(), or when no thread
  // runs and none can be started. A job must not throw; one that does is
  // ended there, and the thread goes on.
  bool submit(std::function<void()> job);

  // Runs every queued job to its end, then joins all threads. Later
  // submits are refused. Idempotent. Not to be called from a job.
  void stop();

  // Threads alive now (for tests and diagnostics).
  std::size_t threads() const;

 private:
  // A thread waiting for a job; shared with submit(), which may still
  // notify it after the thread has ended.
  struct Idle_Slot {
    std::condition_variable wake;
    std::function<void()> job;  // handed over by submit(); guarded by mutex_
  };

  void run();
  // Joins the threads that ended for idleness. Called with mutex_ held.
  void reap_locked();

  const std::size_t max_threads_;
  const std::chrono::milliseconds idle_time_;
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> jobs_;          // guarded by mutex_
  std::map<std::thread::id, std::thread> threads_;  // guarded by mutex_
  std::vector<std::thread::id> ended_;              // idle threads that returned; guarded
  std::vector<std::shared_ptr<Idle_Slot>> idle_;    // waiting threads, the latest last; guarded
  bool stopping_ = false;                           // guarded by mutex_
};

#endif
