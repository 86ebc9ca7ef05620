// Who may work on a tape library when: one queue per library serial number.
//
// Every controller operation that reads or moves a library enters its
// library's queue first and leaves it when done (a Ticket, RAII). The rule,
// per library:
//   - rescan, refresh and transfer run alone (they read the element status
//     or check the inventory and then write what they saw, so nothing else
//     may land in between);
//   - loads and unloads run together when they name different drives; two
//     operations on one drive never run together, nor two loads of one
//     cartridge (the later one then finds it in the earlier one's drive);
//   - strict arrival order: an operation starts only when it conflicts with
//     no operation that arrived before it and is still running or waiting.
//     A waiting rescan, refresh or transfer therefore holds back every
//     later operation of its library, so a stream of loads can never starve
//     it, and it starts as soon as the operations that arrived before it
//     are done.
// Libraries never wait for each other: each has its own queue. A library's
// entry exists only while some operation runs or waits on it, so serial
// numbers sent by clients cannot make the table grow.
//
// Waiting is on a condition variable per library (the queue of waiters is
// the list of entries in arrival order, as in a writers queue): releasing
// a ticket wakes the waiters of that library only.
//
// Turned away, never carried out (the ticket is not held and says why):
//   - every operation waiting, and every new one, once stop() was called;
//   - an operation that waited longer than the queue time-out (measured on
//     the scheduler's clock);
//   - a new operation that would have to wait while the library already
//     has the maximum number of operations waiting;
//   - an operation none of whose callers still wants it (their clients
//     hung up), found while it waits or just before it would start.
// An operation that has started is never interrupted: it finishes and
// releases its ticket as usual.
//
// Joining: a caller that allows it (rescan and refresh requests) and finds
// an operation of the same kind waiting, not yet started, on its library
// adds nothing to the queue; it waits for that operation and receives what
// its runner shared (Ticket::share), or the same refusal.
//
// Not recursive: a thread that holds a ticket of a library must not enter
// that library again (it would wait for itself). Thread-safe. The clock
// gives the times of the snapshot and of the time-out; waiters look at it
// and at their callers every poll interval, or at once after wake().
#ifndef D2T_CONTROLLER_LIBRARY_SCHEDULER_H
#define D2T_CONTROLLER_LIBRARY_SCHEDULER_H

#include <ace/Basic_Types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "d2t/controller/controller_clock.h"
#include "json_spirit/json_spirit_value.h"

// What an operation is, as the snapshot shows it.
struct Library_Operation {
  enum Kind { RESCAN, REFRESH, TRANSFER, LOAD, UNLOAD };
  Kind kind = REFRESH;
  std::string drive;   // LOAD, UNLOAD: the drive's serial number
  ACE_INT32 from = 0;  // TRANSFER: source and destination slots
  ACE_INT32 to = 0;
  std::string media_tag;  // LOAD, TRANSFER: the cartridge; "" when none

  // True for the kinds that run alone.
  bool exclusive() const { return kind == RESCAN || kind == REFRESH || kind == TRANSFER; }
  // True for the kinds whose waiting operation may answer identical later
  // ones (they only read the library and store what they saw).
  bool joinable() const { return kind == RESCAN || kind == REFRESH; }
  // "rescan", "refresh", "transfer", "load" or "unload".
  static const char* kind_name(Kind kind);
};

// Why an operation left its library's queue without being carried out.
enum class Queue_Refusal { NONE, STOPPING, TIMED_OUT, FULL, ABANDONED };

// The reply text of a refusal: "Service is stopping", "Timed out waiting
// for the library", "Too many operations waiting for the library",
// "Client went away"; "" for NONE.
const char* queue_refusal_message(Queue_Refusal refusal);

// What one caller brings to a queue.
struct Queue_Caller {
  // False once the caller's client has gone away; null: always wanted.
  // Called from the thread that waits for the operation (another caller's
  // when it joined), never under the scheduler's lock.
  std::function<bool()> still_wanted;
  // A waiting operation of the same joinable kind may answer for this one.
  bool may_join = false;
};

// What the caller that ran a joined operation leaves for those that joined
// it; each kind has its own derived type.
struct Shared_Result {
  virtual ~Shared_Result() {}
};

class Library_Scheduler {
 public:
  struct Entry;
  struct Record;
  struct Join;

  // Defaults of the limits (media_controller.conf "queue_timeout_seconds"
  // and "max_queued_operations").
  static const int DEFAULT_QUEUE_TIMEOUT_SECONDS = 3600;
  static const int DEFAULT_MAX_QUEUED = 64;

  // A place in a library's queue: running once enter() returned it (or
  // try_enter() returned it held); leaving the scope releases it and lets
  // the next waiters of that library go. Move-only.
  class Ticket {
   public:
    Ticket() = default;
    ~Ticket() { release(); }
    Ticket(Ticket&& other) noexcept;
    Ticket& operator=(Ticket&& other) noexcept;
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;

    bool held() const { return record_ != nullptr; }
    // Not held: why the operation was turned away; NONE for a ticket that
    // is held or that joined an operation which ran.
    Queue_Refusal refusal() const { return refusal_; }
    // Not held because an identical waiting operation answered for it:
    // result() is what its runner shared (null when it shared nothing,
    // e.g. because it failed), unless refusal() says it was turned away.
    bool joined() const { return joined_; }
    std::shared_ptr<const Shared_Result> result() const { return result_; }
    // Held: what those that joined this operation receive; call before
    // release. Nothing for a ticket that is not held.
    void share(std::shared_ptr<const Shared_Result> result);
    // Gives up the place now (nothing when not held).
    void release();
    // Gives up a held place without having done anything (its turn came
    // but something else it waited for afterwards did not): as release(),
    // and refusal() then says why; those that joined it receive the same
    // refusal. Nothing for a ticket that is not held.
    void turn_away(Queue_Refusal refusal);

   private:
    friend class Library_Scheduler;
    Ticket(Library_Scheduler* owner, Record* record) : owner_(owner), record_(record) {}
    Library_Scheduler* owner_ = nullptr;
    Record* record_ = nullptr;
    Queue_Refusal refusal_ = Queue_Refusal::NONE;
    bool joined_ = false;
    std::shared_ptr<const Shared_Result> result_;
  };

  // One start or end of an operation, in the order they happened (for
  // tests and diagnostics).
  struct Event {
    std::string library;
    std::uint64_t id = 0;
    Library_Operation operation;
    bool started = false;  // false: finished
  };
  typedef std::function<void(const Event&)> Listener;

  // `clock` null: the system clock.
  explicit Library_Scheduler(std::shared_ptr<Controller_Clock> clock = nullptr);
  // Tickets must all be released before the scheduler goes.
  ~Library_Scheduler();
  Library_Scheduler(const Library_Scheduler&) = delete;
  Library_Scheduler& operator=(const Library_Scheduler&) = delete;

  // Queues `operation` on `library` and waits until the rule lets it run:
  // a held ticket. Not held when it was turned away (refusal() says why)
  // or when it joined an identical waiting operation (joined()).
  Ticket enter(const std::string& library, const Library_Operation& operation,
               const Queue_Caller& caller = Queue_Caller());
  // Runs `operation` at once only when `library` has nothing running or
  // waiting and the scheduler is not stopped; otherwise returns a ticket
  // that is not held (nothing queued).
  Ticket try_enter(const std::string& library, const Library_Operation& operation);

  // From now on every waiting and every new operation is turned away
  // (STOPPING); running ones go on. resume() accepts operations again.
  void stop();
  void resume();
  bool stopped() const;
  // The queue time-out in seconds (> 0) and the most operations one
  // library may have waiting (>= 0); other values leave a limit as it is.
  // They apply to waiting operations at their next look.
  void limits(int queue_timeout_seconds, int max_queued);
  // For a wait that follows the granted `ticket` (the lease across hosts),
  // bounded as the ticket wait is: STOPPING once stop() was called,
  // TIMED_OUT once the queue time-out has passed since `since_ms` (a time
  // of now_ms()), ABANDONED when none of the ticket's callers (its own and
  // those that joined it) still wants it, else NONE. The callers are asked
  // outside the scheduler's lock, as for a waiting ticket.
  Queue_Refusal wait_refusal(const Ticket& ticket, ACE_UINT64 since_ms);
  // The scheduler's clock.
  ACE_UINT64 now_ms() const;
  // Makes every waiter look at the clock, the limits and its callers now.
  void wake();

  // One object per library with running or waiting operations, by serial
  // number: {"serial_number", "running": [OP...], "queued": [OP...]}, both
  // lists in arrival order, OP = {"id", "kind", "drive" (serial or null),
  // "slots" ([from, to] for a transfer, else []), "media_tag" (or null),
  // "started_at" (running) / "queued_at" (queued) as ISO-8601 UTC,
  // "seconds" since then}. Never waits for an operation.
  json_spirit::Array snapshot() const;

  // Libraries with an entry now.
  std::size_t libraries() const;
  // Callers that joined operations still waiting on `library`.
  std::size_t joined(const std::string& library) const;

  // Seams, set before operations arrive: the clock of the snapshot (null:
  // system clock) and a listener called, under the scheduler's lock, at
  // every start and end (null: none). A listener must not call back.
  void clock(std::shared_ptr<Controller_Clock> clock);
  void listener(Listener listener);
  // How often a waiter looks at the clock and its callers (default 1 s).
  void poll_interval(std::chrono::milliseconds interval);

 private:
  void leave(Record* record);
  // Takes `record` out of its queue, lets those that joined it go and
  // wakes the waiters behind it. Called with mutex_ held.
  void remove(Record& record);
  // remove() for a record that never started, telling those that joined
  // it why. Called with mutex_ held.
  void turn_away(Record& record, Queue_Refusal refusal);
  // Why `record` must leave its queue now, NONE when it may stay (or
  // start). Asks its callers, with `lock` released meanwhile, when `ask`.
  Queue_Refusal refusal_for(Record& record, std::unique_lock<std::mutex>& lock, bool ask);
  // Whether any caller of `record` still wants it; asks them with `lock`
  // released.
  static bool wanted(const Record& record, std::unique_lock<std::mutex>& lock);
  // True when a wait that began at `since_ms` has passed the time-out at
  // `now_ms`. Called with mutex_ held.
  bool timed_out(ACE_UINT64 since_ms, ACE_UINT64 now_ms) const;
  // True when `record` conflicts with no record before it in its entry.
  static bool may_start(const Entry& entry, const Record* record);
  void start(const std::string& library, Record& record);
  // Appends a waiting record for `operation` to the library's queue (made
  // when absent). Called with mutex_ held.
  Record& append(const std::string& library, const Library_Operation& operation);

  mutable std::mutex mutex_;
  // Entries are nodes of a std::map: their address holds until erased,
  // which happens when the last record of the library leaves.
  std::map<std::string, Entry> entries_;
  std::uint64_t next_id_ = 1;
  std::shared_ptr<Controller_Clock> clock_;
  Listener listener_;
  bool stopped_ = false;
  ACE_UINT64 timeout_ms_ = DEFAULT_QUEUE_TIMEOUT_SECONDS * 1000ULL;
  std::size_t max_queued_ = DEFAULT_MAX_QUEUED;
  std::chrono::milliseconds poll_interval_{1000};
};

// `ms` milliseconds since the epoch as "YYYY-MM-DDTHH:MM:SSZ" (UTC).
std::string iso8601_utc(ACE_UINT64 ms);

#endif
