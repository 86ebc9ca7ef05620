// Deadlines for request headers, enforced by a thread of their own.
#include "websvcs/server/header_deadlines.h"

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <new>
#include <system_error>

struct Header_Deadlines::Entry {
  int fd;
  Clock::time_point deadline;  // Clock::time_point::max(): none
  bool cut = false;
};

Header_Deadlines::Header_Deadlines(std::chrono::seconds timeout, std::chrono::seconds idle)
    : timeout_(std::max(timeout, std::chrono::seconds(1))), idle_(idle) {
  // The thread inherits the creating thread's mask: keep the termination
  // signals for the process's own handlers.
  sigset_t block, saved;
  sigemptyset(&block);
  for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR2, SIGPIPE}) sigaddset(&block, s);
  pthread_sigmask(SIG_BLOCK, &block, &saved);
  try {
    thread_ = std::thread(&Header_Deadlines::run, this);
  } catch (const std::system_error&) {
    // No thread: connections are bounded by the idle timeout only.
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

Header_Deadlines::~Header_Deadlines() {
  stop();
  for (Entry* e : entries_) delete e;
}

Header_Deadlines::Entry* Header_Deadlines::opened(int fd) {
  Entry* e = new (std::nothrow) Entry;
  if (!e) return nullptr;
  e->fd = fd;
  e->deadline = Clock::now() + timeout_;
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.insert(e);
  return e;
}

void Header_Deadlines::request_line(Entry* e) {
  if (!e) return;
  const Clock::time_point limit = Clock::now() + timeout_;
  std::lock_guard<std::mutex> lock(mutex_);
  e->deadline = std::min(e->deadline, limit);
}

void Header_Deadlines::headers_complete(Entry* e) {
  if (!e) return;
  std::lock_guard<std::mutex> lock(mutex_);
  e->deadline = Clock::time_point::max();
}

void Header_Deadlines::request_ended(Entry* e) {
  if (!e) return;
  const Clock::time_point next = Clock::now() + idle_ + timeout_;
  std::lock_guard<std::mutex> lock(mutex_);
  e->deadline = next;
}

bool Header_Deadlines::cut(Entry* e) {
  if (!e) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return e->cut;
}

void Header_Deadlines::closed(Entry* e) {
  if (!e) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(e);
  }
  delete e;
}

void Header_Deadlines::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Header_Deadlines::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    const Clock::time_point now = Clock::now();
    // Deadlines set from now on lie at least a second ahead, so a second
    // is the longest this thread may sleep without missing one.
    Clock::time_point next = now + std::chrono::seconds(1);
    for (Entry* e : entries_) {
      if (e->cut) continue;
      if (e->deadline <= now) {
        shutdown(e->fd, SHUT_RDWR);
        e->cut = true;
      } else {
        next = std::min(next, e->deadline);
      }
    }
    wake_.wait_until(lock, next, [this] { return stopping_; });
  }
}
