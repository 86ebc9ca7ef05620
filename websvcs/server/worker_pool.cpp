// A thread pool that grows with the work and shrinks when idle.
#include "websvcs/server/worker_pool.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <system_error>

Worker_Pool::Worker_Pool(std::size_t max_threads, std::chrono::milliseconds idle_time)
    : max_threads_(max_threads ? max_threads : 1), idle_time_(idle_time) {}

Worker_Pool::~Worker_Pool() { stop(); }

bool Worker_Pool::submit(std::function<void()> job) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) return false;
  reap_locked();
  if (!idle_.empty()) {
    // The thread idle the shortest time takes the job; it is woken after
    // the lock is released, so it does not wake only to wait for it.
    std::shared_ptr<Idle_Slot> slot = std::move(idle_.back());
    idle_.pop_back();
    slot->job = std::move(job);
    lock.unlock();
    slot->wake.notify_one();
    return true;
  }
  jobs_.push_back(std::move(job));
  if (threads_.size() < max_threads_) {
    // New threads inherit the creating thread's mask: block the
    // termination signals for them, and restore.
    sigset_t block, saved;
    sigemptyset(&block);
    for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR2, SIGPIPE}) sigaddset(&block, s);
    pthread_sigmask(SIG_BLOCK, &block, &saved);
    try {
      std::thread t(&Worker_Pool::run, this);
      std::thread::id id = t.get_id();
      threads_.emplace(id, std::move(t));
    } catch (const std::system_error&) {
      // No thread now: an existing one takes the job later, if any.
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (threads_.empty()) {
      jobs_.pop_back();
      return false;
    }
  }
  return true;
}

void Worker_Pool::run() {
  const std::shared_ptr<Idle_Slot> slot = std::make_shared<Idle_Slot>();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::function<void()> job;
    if (!jobs_.empty()) {
      job = std::move(jobs_.front());
      jobs_.pop_front();
    } else if (stopping_) {
      return;
    } else {
      idle_.push_back(slot);
      const bool woken =
          slot->wake.wait_for(lock, idle_time_, [&] { return slot->job || stopping_; });
      if (slot->job) {
        job = std::move(slot->job);
        slot->job = nullptr;
      } else {
        // Not handed a job, so still listed as idle.
        idle_.erase(std::find(idle_.begin(), idle_.end(), slot));
        if (!woken) {
          ended_.push_back(std::this_thread::get_id());
          return;
        }
        continue;  // stopping: run what is queued, then end
      }
    }
    lock.unlock();
    try {
      job();
    } catch (...) {
    }
    job = nullptr;  // what the job holds goes before the lock is taken
    lock.lock();
  }
}

void Worker_Pool::reap_locked() {
  for (const std::thread::id& id : ended_) {
    auto it = threads_.find(id);
    if (it == threads_.end()) continue;
    it->second.join();  // it has returned or is returning
    threads_.erase(it);
  }
  ended_.clear();
}

void Worker_Pool::stop() {
  std::map<std::thread::id, std::thread> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    all.swap(threads_);
    ended_.clear();
    for (const std::shared_ptr<Idle_Slot>& slot : idle_) slot->wake.notify_one();
  }
  for (auto& t : all) t.second.join();
}

std::size_t Worker_Pool::threads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return threads_.size() - ended_.size();
}
