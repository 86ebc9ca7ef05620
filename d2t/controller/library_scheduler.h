// Who may work on a tape library when: one queue per library serial number.
//
// Every controller operation that reads or moves a library enters its
// library's queue first and leaves it when done (a Ticket, RAII). The rule,
// per library:
//   - rescan, refresh and transfer run alone (they read the element status
//     or check the inventory and then write what they saw, so nothing else
//     may land in between);
//   - loads and unloads run together when they name different drives; two
//     operations on one drive never run together;
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
// Not recursive: a thread that holds a ticket of a library must not enter
// that library again (it would wait for itself). Thread-safe. The clock
// gives the times of the snapshot; it never decides who runs.
#ifndef D2T_CONTROLLER_LIBRARY_SCHEDULER_H
#define D2T_CONTROLLER_LIBRARY_SCHEDULER_H

#include <ace/Basic_Types.h>

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
  std::string drive;      // LOAD, UNLOAD: the drive's serial number
  ACE_INT32 from = 0;     // TRANSFER: source and destination slots
  ACE_INT32 to = 0;
  std::string media_tag;  // LOAD, TRANSFER: the cartridge; "" when none

  // True for the kinds that run alone.
  bool exclusive() const { return kind == RESCAN || kind == REFRESH || kind == TRANSFER; }
  // "rescan", "refresh", "transfer", "load" or "unload".
  static const char* kind_name(Kind kind);
};

class Library_Scheduler {
 public:
  struct Entry;
  struct Record;

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
    // Gives up the place now (nothing when not held).
    void release();

   private:
    friend class Library_Scheduler;
    Ticket(Library_Scheduler* owner, Record* record) : owner_(owner), record_(record) {}
    Library_Scheduler* owner_ = nullptr;
    Record* record_ = nullptr;
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

  // Queues `operation` on `library` and waits until the rule lets it run.
  // Always returns a held ticket.
  Ticket enter(const std::string& library, const Library_Operation& operation);
  // Runs `operation` at once only when `library` has nothing running or
  // waiting; otherwise returns a ticket that is not held (nothing queued).
  Ticket try_enter(const std::string& library, const Library_Operation& operation);

  // One object per library with running or waiting operations, by serial
  // number: {"serial_number", "running": [OP...], "queued": [OP...]}, both
  // lists in arrival order, OP = {"id", "kind", "drive" (serial or null),
  // "slots" ([from, to] for a transfer, else []), "media_tag" (or null),
  // "started_at" (running) / "queued_at" (queued) as ISO-8601 UTC,
  // "seconds" since then}. Never waits for an operation.
  json_spirit::Array snapshot() const;

  // Libraries with an entry now.
  std::size_t libraries() const;

  // Seams, set before operations arrive: the clock of the snapshot (null:
  // system clock) and a listener called, under the scheduler's lock, at
  // every start and end (null: none). A listener must not call back.
  void clock(std::shared_ptr<Controller_Clock> clock);
  void listener(Listener listener);

 private:
  void leave(Record* record);
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
};

// `ms` milliseconds since the epoch as "YYYY-MM-DDTHH:MM:SSZ" (UTC).
std::string iso8601_utc(ACE_UINT64 ms);

#endif
