// Rescan of one library and removal of libraries left without drives.
#include <chrono>

#include "d2t/controller/controller_log.h"
#include "d2t/controller/controller_sql.h"
#include "d2t/controller/robot_lease.h"
#include "d2t/controller/tape_controller.h"
#include "d2t/metrics/metrics.h"
#include "d2t/tools/diagnosis.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"

namespace {

// What a rescan leaves for the identical requests that joined it.
struct Rescan_Answer : Shared_Result {
  explicit Rescan_Answer(const std::vector<d2t::Changer_var>& c) : changers(c) {}
  std::vector<d2t::Changer_var> changers;
};

}  // namespace

bool match_changer(d2t::Changer_var changer, const std::string& serial_number) {
  return !changer.null() && changer->serial_number() == serial_number;
}

bool match_drive(d2t::Drive_var drive, const std::string& serial_number) {
  return !drive.null() && drive->serial_number() == serial_number;
}

bool Tape_Controller::rescan(const std::string& serial_number,
                             std::vector<d2t::Changer_var>& changers, Queue_Request* queue) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  Library_Operation operation;
  operation.kind = Library_Operation::RESCAN;
  Library_Turn turn;
  if (!enter_turn(turn, serial_number, operation, queue, true)) {
    // Turned away, failed, or answered by the identical rescan it joined
    // (which shares nothing when it failed).
    const std::shared_ptr<const Rescan_Answer> answer =
        std::dynamic_pointer_cast<const Rescan_Answer>(turn.ticket().result());
    if (!turn.ticket().joined() || turn.ticket().refusal() != Queue_Refusal::NONE || !answer)
      return false;
    changers = answer->changers;
    return true;
  }
  std::vector<d2t::Drive_var> drives;
  if (!d2t::tools::lsscsi(changers, drives)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to list scsi devices\n")));
    D2T_LOG_LISTING_CAUSE();
    d2t::metrics::record_scan(serial_number, false, 0);
    return false;
  }
  for (const std::string& why : d2t::tools::listing_left_out())
    ACE_ERROR((LM_WARNING, ACE_TEXT("Device left out of the listing: %C\n"), why.c_str()));

  for (d2t::Changer_var& changer : changers) {
    if (changer.null()) continue;
    if (changer->serial_number() != serial_number) {
      changer.reset();
      continue;
    }
    const auto started = std::chrono::steady_clock::now();
    const bool scanned = scan_tapelib(*changer, drives);
    d2t::metrics::record_scan(
        serial_number, scanned,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    if (!scanned) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to scan %s, changer serial_number: %s.\n"),
                 d2t::log_text(changer->sg_name()).c_str(),
                 d2t::log_text(changer->serial_number()).c_str()));
      changer.reset();
    }
  }

  // Storing replaces the library's rows (delete, then insert) while the
  // rescan still runs alone on it, so no refresh, update or move of the
  // library interleaves with the store, and the removal below never takes
  // a library that another rescan is storing.
  for (d2t::Changer_var& changer : changers) {
    if (changer.null()) continue;
    if (!add_tape_library(changer)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to update tape library, changer serial_number: %s.\n"),
                 d2t::log_text(changer->serial_number()).c_str()));
      changer.reset();
    }
  }
  remove_unavailable(serial_number);
  turn.share(std::make_shared<Rescan_Answer>(changers));
  turn.release();
  d2t::refresh_devices();
  return true;
}

bool Tape_Controller::remove_unavailable(const std::string& own) {
  Controller_Sql sql;
  if (!sql.connected()) {
    ACE_ERROR(
        (LM_ERROR, ACE_TEXT("Failed to connect to database '%C' at %N:%l\n"), "media_controller"));
    return false;
  }
  std::vector<std::pair<std::int64_t, std::string>> rows;
  sql.changers(rows);
  for (const auto& row : rows) {
    std::int64_t count = -1;
    if (!sql.count_drives(row.first, count) || count != 0) continue;
    if (row.second == own) {
      sql.delete_changer(row.first);
      continue;
    }
    // Another library: only while nothing runs or waits on it, and only
    // when it still has no drive once it is ours.
    Library_Operation operation;
    operation.kind = Library_Operation::RESCAN;
    Library_Turn other;
    std::string why;
    if (!other.try_enter(scheduler_, row.second, operation, why)) continue;
    if (sql.count_drives(row.first, count) && count == 0) sql.delete_changer(row.first);
  }
  return true;
}
