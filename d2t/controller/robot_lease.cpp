// Library turns: the local ticket, then the lease across hosts.
#include "d2t/controller/robot_lease.h"

#include <ace/Log_Msg.h>

#include "d2t/util/log_text.h"

namespace {

const char* const DATABASE_NAME = "media_controller";

// How long one lease request waits in the server's queue before the wait
// looks at the daemon's stop and the time-out again.
const int LEASE_ROUND_MS = 250;

database::sql::Advisory_Lock::Mode mode_of(const Library_Operation& operation) {
  return operation.exclusive() ? database::sql::Advisory_Lock::EXCLUSIVE
                               : database::sql::Advisory_Lock::SHARED;
}

}  // namespace

void log_lease_failure(const std::string& library, const std::string& error) {
  ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to take the robot lease of library %C: %C\n"),
             d2t::log_text(library).c_str(), d2t::log_text(error).c_str()));
}

std::string robot_lease_key(const std::string& serial_number) { return "robot:" + serial_number; }

bool Library_Turn::enter(Library_Scheduler& scheduler, const std::string& library,
                         const Library_Operation& operation, std::string& error,
                         const Queue_Caller& caller) {
  release();
  error.clear();
  ticket_ = scheduler.enter(library, operation, caller);
  if (!ticket_.held()) return false;
  // The lease is waited for as the ticket was: turned away when the
  // scheduler stops, once the queue time-out has passed, or when no
  // caller still wants the operation (asked every lease round).
  const ACE_UINT64 since = scheduler.now_ms();
  Queue_Refusal refusal = Queue_Refusal::NONE;
  const auto keep_waiting = [&] {
    refusal = scheduler.wait_refusal(ticket_, since);
    return refusal == Queue_Refusal::NONE;
  };
  if (database::sql::Advisory_Lock::take_waiting(DATABASE_NAME, robot_lease_key(library),
                                                 mode_of(operation), LEASE_ROUND_MS, keep_waiting,
                                                 lease_, error))
    return true;
  if (error.empty())
    ticket_.turn_away(refusal);
  else
    ticket_.release();
  return false;
}

bool Library_Turn::try_enter(Library_Scheduler& scheduler, const std::string& library,
                             const Library_Operation& operation, std::string& error) {
  release();
  error.clear();
  ticket_ = scheduler.try_enter(library, operation);
  if (!ticket_.held()) return false;
  if (database::sql::Advisory_Lock::take(DATABASE_NAME, robot_lease_key(library),
                                         mode_of(operation), false, lease_, error))
    return true;
  ticket_.release();
  return false;
}

void Library_Turn::release() {
  lease_.release();
  ticket_.release();
}
