// The per-library queues of the controller's operations.
#include "d2t/controller/library_scheduler.h"

#include <ctime>
#include <utility>
#include <vector>

#include "json_spirit/json_helpers.h"

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

// The callers that joined a waiting operation, and what they receive.
struct Library_Scheduler::Join {
  std::vector<std::function<bool()>> callers;  // their still_wanted
  bool finished = false;                       // ran and left, or turned away
  Queue_Refusal refusal = Queue_Refusal::NONE;
  std::shared_ptr<const Shared_Result> result;
  std::condition_variable done;
};

struct Library_Scheduler::Record {
  std::uint64_t id = 0;
  Library_Operation operation;
  Entry* entry = nullptr;
  std::string library;
  bool running = false;
  ACE_UINT64 queued_ms = 0;
  ACE_UINT64 started_ms = 0;
  std::function<bool()> still_wanted;
  std::shared_ptr<Join> join;  // only for a caller that allows joining
};

struct Library_Scheduler::Entry {
  // Running and waiting operations in arrival order.
  std::list<Record> records;
  std::condition_variable changed;
};

const char* Library_Operation::kind_name(Kind kind) {
  switch (kind) {
    case RESCAN:
      return "rescan";
    case REFRESH:
      return "refresh";
    case TRANSFER:
      return "transfer";
    case LOAD:
      return "load";
    case UNLOAD:
      return "unload";
  }
  return "unknown";
}

const char* queue_refusal_message(Queue_Refusal refusal) {
  switch (refusal) {
    case Queue_Refusal::NONE:
      return "";
    case Queue_Refusal::STOPPING:
      return "Service is stopping";
    case Queue_Refusal::TIMED_OUT:
      return "Timed out waiting for the library";
    case Queue_Refusal::FULL:
      return "Too many operations waiting for the library";
    case Queue_Refusal::ABANDONED:
      return "Client went away";
  }
  return "";
}

namespace {

// Two operations of one library that may not run at the same time.
bool conflict(const Library_Operation& a, const Library_Operation& b) {
  const bool same_cartridge = a.kind == Library_Operation::LOAD &&
                              b.kind == Library_Operation::LOAD && !a.media_tag.empty() &&
                              a.media_tag == b.media_tag;
  return a.exclusive() || b.exclusive() || a.drive == b.drive || same_cartridge;
}

Value text_or_null(const std::string& s) { return s.empty() ? Value() : Value(s); }

}  // namespace

std::string iso8601_utc(ACE_UINT64 ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  ::gmtime_r(&seconds, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

Library_Scheduler::Ticket::Ticket(Ticket&& other) noexcept
    : owner_(other.owner_),
      record_(other.record_),
      refusal_(other.refusal_),
      joined_(other.joined_),
      result_(std::move(other.result_)) {
  other.owner_ = nullptr;
  other.record_ = nullptr;
}

Library_Scheduler::Ticket& Library_Scheduler::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    release();
    owner_ = other.owner_;
    record_ = other.record_;
    refusal_ = other.refusal_;
    joined_ = other.joined_;
    result_ = std::move(other.result_);
    other.owner_ = nullptr;
    other.record_ = nullptr;
  }
  return *this;
}

void Library_Scheduler::Ticket::share(std::shared_ptr<const Shared_Result> result) {
  if (record_ == nullptr) return;
  std::lock_guard<std::mutex> guard(owner_->mutex_);
  if (record_->join) record_->join->result = std::move(result);
}

void Library_Scheduler::Ticket::release() {
  if (record_ != nullptr) owner_->leave(record_);
  owner_ = nullptr;
  record_ = nullptr;
}

void Library_Scheduler::Ticket::turn_away(Queue_Refusal refusal) {
  if (record_ == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(owner_->mutex_);
    if (owner_->listener_)
      owner_->listener_(Event{record_->library, record_->id, record_->operation, false});
    owner_->turn_away(*record_, refusal);
  }
  owner_ = nullptr;
  record_ = nullptr;
  refusal_ = refusal;
}

Library_Scheduler::Library_Scheduler(std::shared_ptr<Controller_Clock> clock)
    : clock_(clock ? std::move(clock) : Controller_Clock::system()) {}

Library_Scheduler::~Library_Scheduler() {}

void Library_Scheduler::clock(std::shared_ptr<Controller_Clock> clock) {
  std::lock_guard<std::mutex> guard(mutex_);
  clock_ = clock ? std::move(clock) : Controller_Clock::system();
}

void Library_Scheduler::listener(Listener listener) {
  std::lock_guard<std::mutex> guard(mutex_);
  listener_ = std::move(listener);
}

void Library_Scheduler::poll_interval(std::chrono::milliseconds interval) {
  std::lock_guard<std::mutex> guard(mutex_);
  poll_interval_ = interval;
}

void Library_Scheduler::stop() {
  std::lock_guard<std::mutex> guard(mutex_);
  stopped_ = true;
  for (auto& library : entries_) library.second.changed.notify_all();
}

void Library_Scheduler::resume() {
  std::lock_guard<std::mutex> guard(mutex_);
  stopped_ = false;
}

bool Library_Scheduler::stopped() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return stopped_;
}

void Library_Scheduler::limits(int queue_timeout_seconds, int max_queued) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (queue_timeout_seconds > 0)
    timeout_ms_ = 1000ULL * static_cast<unsigned>(queue_timeout_seconds);
  if (max_queued >= 0) max_queued_ = static_cast<std::size_t>(max_queued);
  for (auto& library : entries_) library.second.changed.notify_all();
}

Queue_Refusal Library_Scheduler::wait_refusal(const Ticket& ticket, ACE_UINT64 since_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopped_) return Queue_Refusal::STOPPING;
  if (timed_out(since_ms, clock_->now_ms())) return Queue_Refusal::TIMED_OUT;
  // A running record gains no more joined callers, and it stays until its
  // ticket (held by the caller of this function) is released.
  if (ticket.record_ == nullptr || wanted(*ticket.record_, lock)) return Queue_Refusal::NONE;
  return stopped_ ? Queue_Refusal::STOPPING : Queue_Refusal::ABANDONED;
}

ACE_UINT64 Library_Scheduler::now_ms() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return clock_->now_ms();
}

bool Library_Scheduler::timed_out(ACE_UINT64 since_ms, ACE_UINT64 now_ms) const {
  return now_ms > since_ms && now_ms - since_ms > timeout_ms_;
}

void Library_Scheduler::wake() {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto& library : entries_) library.second.changed.notify_all();
}

bool Library_Scheduler::may_start(const Entry& entry, const Record* record) {
  for (const Record& earlier : entry.records) {
    if (&earlier == record) return true;
    if (conflict(earlier.operation, record->operation)) return false;
  }
  return true;
}

void Library_Scheduler::start(const std::string& library, Record& record) {
  record.running = true;
  record.started_ms = clock_->now_ms();
  if (listener_) listener_(Event{library, record.id, record.operation, true});
}

Library_Scheduler::Record& Library_Scheduler::append(const std::string& library,
                                                     const Library_Operation& operation) {
  Entry& entry = entries_[library];
  entry.records.emplace_back();
  Record& record = entry.records.back();
  record.id = next_id_++;
  record.operation = operation;
  record.entry = &entry;
  record.library = library;
  record.queued_ms = clock_->now_ms();
  return record;
}

Library_Scheduler::Ticket Library_Scheduler::enter(const std::string& library,
                                                   const Library_Operation& operation,
                                                   const Queue_Caller& caller) {
  std::unique_lock<std::mutex> lock(mutex_);
  Ticket away;
  if (stopped_) {
    away.refusal_ = Queue_Refusal::STOPPING;
    return away;
  }
  const bool joining = caller.may_join && operation.joinable();
  if (joining) {
    auto found = entries_.find(library);
    if (found != entries_.end()) {
      for (const Record& waiting : found->second.records) {
        if (waiting.running || !waiting.join || waiting.operation.kind != operation.kind) continue;
        // The waiting operation's thread runs it, or turns it away, for
        // every caller that joined; the join outlives the record.
        const std::shared_ptr<Join> join = waiting.join;
        join->callers.push_back(caller.still_wanted);
        join->done.wait(lock, [&] { return join->finished; });
        away.joined_ = true;
        away.refusal_ = join->refusal;
        away.result_ = join->result;
        return away;
      }
    }
  }

  Record& record = append(library, operation);
  record.still_wanted = caller.still_wanted;
  if (joining) record.join = std::make_shared<Join>();
  Entry& entry = *record.entry;
  if (!may_start(entry, &record)) {
    std::size_t waiting = 0;
    for (const Record& r : entry.records) waiting += (!r.running && &r != &record) ? 1 : 0;
    if (waiting >= max_queued_) {
      turn_away(record, Queue_Refusal::FULL);
      away.refusal_ = Queue_Refusal::FULL;
      return away;
    }
  }
  // The callers are asked just before the start and every poll interval
  // while waiting; the limits at every wake.
  auto next_ask = std::chrono::steady_clock::now() + poll_interval_;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    const bool ask = may_start(entry, &record) || now >= next_ask;
    if (ask) next_ask = now + poll_interval_;
    const Queue_Refusal refusal = refusal_for(record, lock, ask);
    if (refusal != Queue_Refusal::NONE) {
      turn_away(record, refusal);
      away.refusal_ = refusal;
      return away;
    }
    // Once it may start it stays so: earlier records only ever leave.
    if (may_start(entry, &record)) break;
    entry.changed.wait_for(lock, poll_interval_);
  }
  start(library, record);
  return Ticket(this, &record);
}

Queue_Refusal Library_Scheduler::refusal_for(Record& record, std::unique_lock<std::mutex>& lock,
                                             bool ask) {
  if (stopped_) return Queue_Refusal::STOPPING;
  if (timed_out(record.queued_ms, clock_->now_ms())) return Queue_Refusal::TIMED_OUT;
  if (!ask) return Queue_Refusal::NONE;
  const bool still = wanted(record, lock);
  if (stopped_) return Queue_Refusal::STOPPING;
  return still ? Queue_Refusal::NONE : Queue_Refusal::ABANDONED;
}

bool Library_Scheduler::wanted(const Record& record, std::unique_lock<std::mutex>& lock) {
  std::vector<std::function<bool()>> callers(1, record.still_wanted);
  if (record.join)
    callers.insert(callers.end(), record.join->callers.begin(), record.join->callers.end());
  // A caller's check may look at a socket: never under the lock. The
  // record stays (only its own thread removes it) and those that joined
  // wait for it to finish, so every function called here is still alive.
  lock.unlock();
  bool any = false;
  for (const std::function<bool()>& still_wanted : callers) {
    if (!still_wanted || still_wanted()) {
      any = true;
      break;
    }
  }
  lock.lock();
  return any;
}

void Library_Scheduler::turn_away(Record& record, Queue_Refusal refusal) {
  if (record.join) record.join->refusal = refusal;
  remove(record);
}

void Library_Scheduler::remove(Record& record) {
  if (record.join) {
    record.join->finished = true;
    record.join->done.notify_all();
  }
  Entry* entry = record.entry;
  const std::string library = record.library;
  for (auto it = entry->records.begin(); it != entry->records.end(); ++it) {
    if (&*it != &record) continue;
    entry->records.erase(it);
    break;
  }
  // The operations behind it may start now.
  if (entry->records.empty()) {
    entries_.erase(library);
  } else {
    entry->changed.notify_all();
  }
}

Library_Scheduler::Ticket Library_Scheduler::try_enter(const std::string& library,
                                                       const Library_Operation& operation) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (stopped_ || entries_.count(library) != 0) return Ticket();
  Record& record = append(library, operation);
  start(library, record);
  return Ticket(this, &record);
}

void Library_Scheduler::leave(Record* record) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (listener_) listener_(Event{record->library, record->id, record->operation, false});
  remove(*record);
}

json_spirit::Array Library_Scheduler::snapshot() const {
  std::lock_guard<std::mutex> guard(mutex_);
  const ACE_UINT64 now = clock_->now_ms();
  Array out;
  out.reserve(entries_.size());
  for (const auto& library : entries_) {
    Object& o = json_spirit::append_new_object(out);
    o["serial_number"] = library.first;
    Array& running = json_spirit::to_new_array(o["running"]);
    Array& queued = json_spirit::to_new_array(o["queued"]);
    for (const Record& r : library.second.records) {
      Object& op = json_spirit::append_new_object(r.running ? running : queued);
      const Library_Operation& what = r.operation;
      op["id"] = static_cast<std::int64_t>(r.id);
      op["kind"] = Library_Operation::kind_name(what.kind);
      op["drive"] = text_or_null(what.drive);
      Array& slots = json_spirit::to_new_array(op["slots"]);
      if (what.kind == Library_Operation::TRANSFER) {
        slots.push_back(Value(static_cast<int>(what.from)));
        slots.push_back(Value(static_cast<int>(what.to)));
      }
      op["media_tag"] = text_or_null(what.media_tag);
      const ACE_UINT64 since = r.running ? r.started_ms : r.queued_ms;
      op[r.running ? "started_at" : "queued_at"] = iso8601_utc(since);
      op["seconds"] = now > since ? static_cast<double>(now - since) / 1000.0 : 0.0;
    }
  }
  return out;
}

std::size_t Library_Scheduler::libraries() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return entries_.size();
}

std::size_t Library_Scheduler::joined(const std::string& library) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto found = entries_.find(library);
  std::size_t n = 0;
  if (found == entries_.end()) return n;
  for (const Record& r : found->second.records)
    if (!r.running && r.join) n += r.join->callers.size();
  return n;
}
