// Access lines written by a thread of their own.
#include "websvcs/server/access_log.h"

#include <system_error>

#include "ace/Log_Msg.h"

namespace {

void write_line(const std::string& line) { ACE_DEBUG((LM_INFO, ACE_TEXT("%C\n"), line.c_str())); }

}  // namespace

Access_Log::Access_Log(std::size_t max_queued) : max_queued_(max_queued ? max_queued : 1) {
  // Running before the thread starts: a thread that saw running_ still
  // false would take itself for stopped and leave every line queued.
  running_ = true;
  try {
    thread_ = std::thread(&Access_Log::run, this);
  } catch (const std::system_error&) {
    // Lines are written by the threads that complete the requests.
    running_ = false;
  }
}

Access_Log::~Access_Log() { stop(); }

void Access_Log::write(std::string line) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!running_) {
    lock.unlock();
    write_line(line);
    return;
  }
  if (queued_.size() >= max_queued_) {
    ++dropped_;
    return;
  }
  queued_.push_back(std::move(line));
  const bool first = queued_.size() == 1;
  lock.unlock();
  if (first) wake_.notify_one();
}

void Access_Log::run() {
  std::vector<std::string> batch;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !queued_.empty() || !running_; });
    if (queued_.empty()) return;  // stopped, nothing left
    batch.swap(queued_);
    const std::size_t dropped = dropped_;
    dropped_ = 0;
    lock.unlock();
    for (const std::string& line : batch) write_line(line);
    batch.clear();
    if (dropped)
      ACE_DEBUG((LM_WARNING,
                 ACE_TEXT("Web server: %B access log lines dropped, the log output was too slow\n"),
                 static_cast<ACE_UINT64>(dropped)));
    lock.lock();
  }
}

void Access_Log::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    running_ = false;
  }
  wake_.notify_one();
  thread_.join();
}
