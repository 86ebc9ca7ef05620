// Access lines gathered in a buffer and written by a thread of their own.
#include "websvcs/server/access_log.h"

#include <system_error>

#include "ace/Log_Msg.h"

namespace {

// Text of one record of the process log, kept well below the length at
// which the log cuts a record short (ACE_MAXLOGMSGLEN).
const std::size_t RECORD_BYTES = 3072;

// `line` ends in a NUL and may hold several lines, each written with its
// own head.
void write_line(const char* line) { ACE_DEBUG((LM_INFO, ACE_TEXT("%C\n"), line)); }

}  // namespace

Access_Log::Access_Log(std::size_t max_queued, std::chrono::milliseconds flush_interval)
    : max_queued_(max_queued ? max_queued : 1),
      flush_interval_(flush_interval > std::chrono::milliseconds::zero()
                          ? flush_interval
                          : std::chrono::milliseconds(1)) {
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

void Access_Log::write(const char* line, std::size_t length) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!running_) {
    lock.unlock();
    write_line(std::string(line, length).c_str());
    return;
  }
  if (queued_lines_ >= max_queued_) {
    ++dropped_;
    return;
  }
  queued_.append(line, length);
  queued_ += '\n';
  ++queued_lines_;
  if (queued_.size() < FLUSH_BYTES || flush_now_) return;
  flush_now_ = true;
  lock.unlock();
  wake_.notify_one();
}

void Access_Log::run() {
  std::string batch;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait_for(lock, flush_interval_, [this] { return flush_now_ || !running_; });
    flush_now_ = false;
    if (queued_.empty()) {
      if (!running_) return;  // stopped, nothing left
      continue;
    }
    // Both buffers keep their storage: a steady flow allocates nothing.
    batch.swap(queued_);
    queued_lines_ = 0;
    const std::size_t dropped = dropped_;
    dropped_ = 0;
    lock.unlock();
    // As many whole lines per record as fit: each record costs the process
    // log a lock, its bookkeeping and a write, whatever its length.
    for (std::size_t start = 0; start < batch.size();) {
      std::size_t end = batch.find('\n', start);
      for (std::size_t next = end; next + 1 < batch.size(); end = next) {
        next = batch.find('\n', next + 1);
        if (next - start >= RECORD_BYTES) break;
      }
      batch[end] = '\0';  // the lines, in place
      write_line(batch.data() + start);
      start = end + 1;
    }
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
