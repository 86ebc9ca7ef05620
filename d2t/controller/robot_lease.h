// A library's turn to move its robot, on this host and across the hosts
// that share the library through one inventory database.
//
// On this host an operation first waits in its library's queue
// (Library_Scheduler: arrival order, the exclusion rule). Once its ticket
// is granted it takes the library's robot lease in the inventory database:
// shared for loads and unloads, exclusive for rescan, refresh and transfer,
// keyed by the library's serial number (PostgreSQL advisory lock held on a
// connection of its own; see database/advisory_lock.h). So the scheduler's
// rule holds across hosts too: an exclusive operation on one host excludes
// every operation on that library on every host, and loads and unloads of
// different drives run together (two hosts never share a drive).
//
// Order across hosts: each host sends its operations to the database in
// its own arrival order (one lease request per granted ticket), and the
// database grants lease requests in the order they reach it, a shared
// request queuing behind a waiting exclusive one. Between hosts the order
// is therefore the order of arrival at the database server; no host can
// starve another's rescan or refresh. (A waiting request is renewed every
// quarter second so that the wait can end; a request arriving in the
// moment between two renewals may go first.) Every operation holds one
// lease at a time and only non-waiting attempts are made while holding
// one, so hosts cannot deadlock on leases.
//
// The lease wait is bounded as the ticket wait is: once the queue time-out
// ("queue_timeout_seconds") has passed while waiting for the lease, as
// soon as the scheduler stops, or once no caller of the operation still
// wants it (its client went away), the operation is turned away as the
// scheduler turns away a waiting one (the ticket says TIMED_OUT, STOPPING
// or ABANDONED, those that joined it hear the same).
//
// A host that dies loses its leases when the server ends its session.
// With an inventory that is not shared (SQLite) the lease holds nothing.
#ifndef D2T_CONTROLLER_ROBOT_LEASE_H
#define D2T_CONTROLLER_ROBOT_LEASE_H

#include <memory>
#include <string>

#include "d2t/controller/library_scheduler.h"
#include "database/advisory_lock.h"

class Library_Turn {
 public:
  // Waits for the library's ticket (for `caller`), then for its lease.
  // False, nothing held, when the ticket was not granted or the lease
  // wait was turned away (ticket() says whether it was turned away and
  // why, or joined another operation; `error` empty), or when the lease
  // cannot be taken (the database is unreachable or refused): `error`
  // says why, for the caller's log line.
  bool enter(Library_Scheduler& scheduler, const std::string& library,
             const Library_Operation& operation, std::string& error,
             const Queue_Caller& caller = Queue_Caller());
  // Takes ticket and lease only when neither has to wait; false (nothing
  // held, `error` empty) when either is busy.
  bool try_enter(Library_Scheduler& scheduler, const std::string& library,
                 const Library_Operation& operation, std::string& error);

  bool held() const { return ticket_.held() && lease_.held(); }
  // The library's ticket: why it was not granted, what a joined operation
  // shared.
  const Library_Scheduler::Ticket& ticket() const { return ticket_; }
  // Held: what the callers that joined this operation receive.
  void share(std::shared_ptr<const Shared_Result> result) { ticket_.share(std::move(result)); }
  // Gives the lease back, then the ticket (nothing when not held).
  void release();
  ~Library_Turn() { release(); }

 private:
  Library_Scheduler::Ticket ticket_;
  database::sql::Advisory_Lock lease_;
};

// Logs, once where an operation gives up, that the lease of `library`
// could not be taken and why (the database's words, escaped).
void log_lease_failure(const std::string& library, const std::string& error);

// The lease name of library `serial_number`.
std::string robot_lease_key(const std::string& serial_number);

#endif
