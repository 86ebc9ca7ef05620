// Access lines gathered in per-thread buffers and written in order by a
// thread of their own.
#include "websvcs/server/access_log.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <system_error>

#include "ace/Log_Msg.h"

namespace {

// Text of one record of the process log, kept well below the length at
// which the log cuts a record short (ACE_MAXLOGMSGLEN).
const std::size_t RECORD_BYTES = 3072;
const std::size_t ORDER_BYTES = sizeof(std::uint64_t);

std::atomic<std::uint64_t> g_next_log_id{1};

// The shard this thread last wrote to, and the log it belongs to.
struct Cached_Shard {
  std::uint64_t log = 0;
  void* shard = nullptr;
};
thread_local Cached_Shard t_shard;

// `text` ends in a NUL and may hold several lines, each written with its
// own head.
void write_record(const char* text) { ACE_DEBUG((LM_INFO, ACE_TEXT("%C\n"), text)); }

// Appends the entries of `lines` (shard format) to `out`.
template <typename Entry>
void parse(const std::string& lines, std::vector<Entry>& out) {
  for (std::size_t at = 0; at + ORDER_BYTES < lines.size();) {
    Entry e;
    std::memcpy(&e.order, lines.data() + at, ORDER_BYTES);
    const std::size_t end = lines.find('\n', at + ORDER_BYTES);
    e.text = lines.data() + at + ORDER_BYTES;
    e.length = end - at - ORDER_BYTES;
    out.push_back(e);
    at = end + 1;
  }
}

void append_line(std::string& to, std::uint64_t order, const char* text, std::size_t length) {
  to.append(reinterpret_cast<const char*>(&order), ORDER_BYTES);
  to.append(text, length);
  to += '\n';
}

}  // namespace

Access_Log::Access_Log(std::size_t max_queued, std::chrono::milliseconds flush_interval)
    : id_(g_next_log_id++),
      max_queued_(max_queued ? max_queued : 1),
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

Access_Log::Shard* Access_Log::shard_of_this_thread() {
  if (t_shard.log == id_) return static_cast<Shard*>(t_shard.shard);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!running_) return nullptr;
  const std::thread::id me = std::this_thread::get_id();
  Shard* shard = nullptr;
  // A thread that ended may have left its shard to one with its id.
  for (std::size_t i = 0; i < owners_.size() && !shard; ++i)
    if (owners_[i] == me) shard = shards_[i].get();
  if (!shard) {
    shards_.emplace_back(new Shard);
    owners_.push_back(me);
    shard = shards_.back().get();
  }
  t_shard.log = id_;
  t_shard.shard = shard;
  return shard;
}

void Access_Log::write(const char* line, std::size_t length) {
  if (Shard* shard = shard_of_this_thread()) {
    std::unique_lock<std::mutex> lock(shard->mutex);
    if (!shard->closed) {
      if (shard->count >= max_queued_) {
        ++shard->dropped;
        return;
      }
      append_line(shard->lines, next_order_.fetch_add(1), line, length);
      ++shard->count;
      const bool full = shard->lines.size() >= FLUSH_BYTES && !flush_now_.exchange(true);
      lock.unlock();
      if (sleeping_.load()) {
        // The first line after a quiet spell (see run()).
        std::lock_guard<std::mutex> guard(mutex_);
        sleeping_ = false;
        wake_.notify_one();
      } else if (full) {
        // Not under mutex_: a wake-up lost to a writer about to wait only
        // delays the lines to the end of its interval.
        wake_.notify_one();
      }
      return;
    }
  }
  write_record(std::string(line, length).c_str());
}

void Access_Log::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (running_) {
    wake_.wait_for(lock, flush_interval_, [this] { return flush_now_.load() || !running_; });
    lock.unlock();
    flush_now_ = false;
    const std::uint64_t written = write_waiting(false);
    lock.lock();
    // Everything written and no line since: sleep until one comes, rather
    // than wake every interval on an idle server. A line numbered after
    // `sleeping_` was set finds it set (both are sequentially consistent),
    // and wakes the thread under mutex_, so the wake-up is never lost.
    sleeping_ = true;
    if (held_.empty() && next_order_.load() == written)
      wake_.wait(lock, [this] { return !sleeping_.load() || !running_; });
    sleeping_ = false;
  }
  lock.unlock();
  write_waiting(true);
}

std::uint64_t Access_Log::write_waiting(bool last) {
  // Every line numbered below `limit` is complete in its shard once the
  // shard's lock has been taken: its number was drawn under that lock.
  const std::uint64_t limit = last ? std::numeric_limits<std::uint64_t>::max() : next_order_.load();
  std::vector<Shard*> shards;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::unique_ptr<Shard>& s : shards_) shards.push_back(s.get());
  }
  entries_.clear();
  held_taken_.clear();
  held_taken_.swap(held_);
  parse(held_taken_, entries_);
  std::size_t dropped = 0;
  for (Shard* s : shards) {
    {
      std::lock_guard<std::mutex> lock(s->mutex);
      // Both buffers keep their storage: a steady flow allocates nothing.
      s->taken.clear();
      s->taken.swap(s->lines);
      s->count = 0;
      dropped += s->dropped;
      s->dropped = 0;
      if (last) s->closed = true;
    }
    parse(s->taken, entries_);
  }
  std::sort(entries_.begin(), entries_.end(),
            [](const Entry& a, const Entry& b) { return a.order < b.order; });
  // As many whole lines per record as fit: each record costs the process
  // log a lock, its bookkeeping and a write, whatever its length.
  record_.clear();
  for (const Entry& e : entries_) {
    if (e.order >= limit) {
      append_line(held_, e.order, e.text, e.length);
      continue;
    }
    if (!record_.empty() && record_.size() + e.length + 1 > RECORD_BYTES) {
      record_.back() = '\0';
      write_record(record_.c_str());
      record_.clear();
    }
    record_.append(e.text, e.length);
    record_ += '\n';
  }
  if (!record_.empty()) {
    record_.back() = '\0';
    write_record(record_.c_str());
  }
  if (dropped)
    ACE_DEBUG((LM_WARNING,
               ACE_TEXT("Web server: %B access log lines dropped, the log output was too slow\n"),
               static_cast<ACE_UINT64>(dropped)));
  return limit;
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
