// Rescan of one library and removal of libraries left without drives.
#include "d2t/controller/tape_controller.h"

#include <ace/Guard_T.h>

#include "d2t/controller/controller_log.h"
#include "d2t/controller/controller_sql.h"
#include "d2t/tools/tools.h"

bool match_changer(d2t::Changer_var changer, const std::string& serial_number) {
  return !changer.null() && changer->serial_number() == serial_number;
}

bool match_drive(d2t::Drive_var drive, const std::string& serial_number) {
  return !drive.null() && drive->serial_number() == serial_number;
}

bool Tape_Controller::rescan(const std::string& serial_number,
                             std::vector<d2t::Changer_var>& changers) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  std::vector<d2t::Drive_var> drives;
  if (!d2t::tools::lsscsi(changers, drives)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to list scsi devices\n")));
    return false;
  }

  for (d2t::Changer_var& changer : changers) {
    if (changer.null()) continue;
    if (changer->serial_number() != serial_number) {
      changer.reset();
    } else if (!scan_tapelib(*changer, drives)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to scan %s, changer serial_number: %s.\n"),
                 changer->sg_name().c_str(), changer->serial_number().c_str()));
      changer.reset();
    }
  }

  {
    // Storing replaces rows (delete, then insert) and removal deletes rows
    // of drive-less libraries; two rescans must not interleave the two, or
    // one could delete the library the other is in the middle of storing.
    ACE_Guard<ACE_Thread_Mutex> guard(store_lock_);
    for (d2t::Changer_var& changer : changers) {
      if (changer.null()) continue;
      if (!add_tape_library(changer)) {
        ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to update tape library, changer serial_number: %s.\n"),
                   changer->serial_number().c_str()));
        changer.reset();
      }
    }
    remove_unavailable();
  }
  d2t::refresh_devices();
  return true;
}

bool Tape_Controller::remove_unavailable() {
  Controller_Sql sql;
  if (!sql.connected()) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to connect to database '%C' at %N:%l\n"),
               "media_controller"));
    return false;
  }
  std::vector<std::int64_t> ids;
  sql.changer_ids(ids);
  for (std::int64_t id : ids) {
    std::int64_t count = -1;
    if (sql.count_drives(id, count) && count == 0) sql.delete_changer(id);
  }
  return true;
}
