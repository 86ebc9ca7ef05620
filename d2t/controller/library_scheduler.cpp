// The per-library queues of the controller's operations.
#include "d2t/controller/library_scheduler.h"

#include <ctime>
#include <utility>

#include "json_spirit/json_helpers.h"

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

struct Library_Scheduler::Record {
  std::uint64_t id = 0;
  Library_Operation operation;
  Entry* entry = nullptr;
  std::string library;
  bool running = false;
  ACE_UINT64 queued_ms = 0;
  ACE_UINT64 started_ms = 0;
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

namespace {

// Two operations of one library that may not run at the same time.
bool conflict(const Library_Operation& a, const Library_Operation& b) {
  return a.exclusive() || b.exclusive() || a.drive == b.drive;
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
    : owner_(other.owner_), record_(other.record_) {
  other.owner_ = nullptr;
  other.record_ = nullptr;
}

Library_Scheduler::Ticket& Library_Scheduler::Ticket::operator=(Ticket&& other) noexcept {
  if (this != &other) {
    release();
    owner_ = other.owner_;
    record_ = other.record_;
    other.owner_ = nullptr;
    other.record_ = nullptr;
  }
  return *this;
}

void Library_Scheduler::Ticket::release() {
  if (record_ != nullptr) owner_->leave(record_);
  owner_ = nullptr;
  record_ = nullptr;
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
                                                   const Library_Operation& operation) {
  std::unique_lock<std::mutex> lock(mutex_);
  Record& record = append(library, operation);
  Entry& entry = *record.entry;
  entry.changed.wait(lock, [&] { return may_start(entry, &record); });
  start(library, record);
  return Ticket(this, &record);
}

Library_Scheduler::Ticket Library_Scheduler::try_enter(const std::string& library,
                                                       const Library_Operation& operation) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (entries_.count(library) != 0) return Ticket();
  Record& record = append(library, operation);
  start(library, record);
  return Ticket(this, &record);
}

void Library_Scheduler::leave(Record* record) {
  std::lock_guard<std::mutex> guard(mutex_);
  Entry* entry = record->entry;
  if (listener_) listener_(Event{record->library, record->id, record->operation, false});
  const std::string library = record->library;
  for (auto it = entry->records.begin(); it != entry->records.end(); ++it) {
    if (&*it != record) continue;
    entry->records.erase(it);
    break;
  }
  if (entry->records.empty()) {
    entries_.erase(library);
  } else {
    entry->changed.notify_all();
  }
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
