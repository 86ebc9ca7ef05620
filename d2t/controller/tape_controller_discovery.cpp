// Device discovery: device names and slots of known libraries (update),
// the type measurement used by refresh, and storing a scanned library.
#include "d2t/controller/controller_log.h"
#include "d2t/controller/controller_sql.h"
#include "d2t/controller/move_report.h"
#include "d2t/controller/robot_lease.h"
#include "d2t/controller/tape_controller.h"
#include "d2t/metrics/metrics.h"
#include "d2t/tools/diagnosis.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"
#include "json_spirit/json_helpers.h"

using json_spirit::Object;
using json_spirit::Value;

bool Tape_Controller::update() {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  std::vector<d2t::Changer_var> changers;
  std::vector<d2t::Drive_var> drives;
  if (!d2t::tools::lsscsi(changers, drives)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to list tape devices\n")));
    D2T_LOG_LISTING_CAUSE();
    return false;
  }
  update_device_name(changers, drives);

  for (d2t::Changer_var& changer : changers) {
    // Libraries absent from the inventory keep id 0 and are left alone.
    if (changer.null() || changer->id() == 0) continue;
    // A status read and the writes that follow from it: a refresh.
    Library_Operation refresh;
    refresh.kind = Library_Operation::REFRESH;
    Library_Turn turn;
    if (!enter_turn(turn, changer->serial_number(), refresh, nullptr)) continue;
    if (d2t::tools::changer_status(*changer)) {
      update_slots(changer->id(), *changer);
    } else {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get status of changer %s\n"),
                 d2t::log_text(changer->sg_name()).c_str()));
    }
  }
  return true;
}

bool Tape_Controller::rediscover_names() {
  std::vector<d2t::Changer_var> changers;
  std::vector<d2t::Drive_var> drives;
  if (!d2t::tools::lsscsi(changers, drives)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to list tape devices\n")));
    D2T_LOG_LISTING_CAUSE();
    return false;
  }
  return update_device_name(changers, drives);
}

bool Tape_Controller::update_device_name(std::vector<d2t::Changer_var>& changers,
                                         std::vector<d2t::Drive_var>& drives) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  // Every stored name is forgotten and the present devices' names set
  // again, in one transaction: rows of devices that are gone keep NULL
  // names, which is how load and unload notice them, and nobody ever sees
  // the names half cleared.
  std::vector<Controller_Sql::Device_Name> changer_names, drive_names;
  for (const d2t::Drive_var& drive : drives) {
    if (!drive.null())
      drive_names.push_back({drive->serial_number(), drive->sg_name(), drive->dev_name(), 0});
  }
  for (const d2t::Changer_var& changer : changers) {
    if (!changer.null())
      changer_names.push_back({changer->serial_number(), changer->sg_name(), "", 0});
  }
  Controller_Sql sql;
  if (!sql.connected() || !sql.store_device_names(host_id_, changer_names, drive_names)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to reset database\n")));
    return false;
  }
  std::size_t next = 0;
  for (d2t::Drive_var& drive : drives) {
    if (drive.null()) continue;
    const std::int64_t id = drive_names[next++].id;
    if (id != 0) drive->id(id);
  }
  next = 0;
  for (d2t::Changer_var& changer : changers) {
    if (changer.null()) continue;
    const std::int64_t id = changer_names[next++].id;
    if (id != 0) changer->id(id);
  }
  return true;
}

ACE_INT64 Tape_Controller::get_changer_id(const std::string& serial_number) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return -1;
  }
  Object row;
  std::int64_t id = -1;
  if (!impl_->get_changer(serial_number, row) || !json_spirit::object_get(row, "id", id)) return -1;
  return id;
}

std::string Tape_Controller::get_drive_name(ACE_INT64 changer_id, ACE_INT32 drive_number) const {
  if (!impl_) return std::string();
  Object row;
  if (!impl_->get_drive(changer_id, drive_number, row)) return std::string();
  // Another host's device name names some other drive here.
  const std::string owner = json_spirit::object_get_str_or_empty(row, "host_id");
  if (!owner.empty() && owner != host_id_) return std::string();
  // A drive that is not present has a NULL name after reset().
  const std::string* name = json_spirit::object_get_str(row, "dev_name");
  return name ? *name : std::string();
}

bool Tape_Controller::detect_changer_type(ACE_INT64 changer_id, d2t::Changer& changer) {
  // An empty drive whose tape device is known: without the device the
  // unload could not eject the cartridge and would leave it in the drive.
  d2t::Drive_var drive;
  for (const d2t::Drive_var& d : changer.drives()) {
    if (d.null() || d->slot_number() >= 1 || !d->media_tag().empty()) continue;
    std::string dev_name = get_drive_name(changer_id, static_cast<ACE_INT32>(d->drive_number()));
    if (dev_name.empty()) continue;
    d->dev_name(dev_name);
    drive = d;
    break;
  }
  if (drive.null()) return false;

  // A cartridge that is neither a cleaning cartridge nor an empty slot.
  d2t::Media_var media;
  for (const d2t::Media_var& m : changer.medias()) {
    if (m.null() || m->state() == d2t::MST_CLEAN || m->state() == d2t::MST_EMPTY) continue;
    if (d2t::re::is_clean_media(m->media_tag())) continue;
    media = m;
    break;
  }
  if (media.null()) return false;

  // Not while a scan watches this drive to identify an element.
  Drive_Reservations::Hold drive_use = drive_reservations_.use(drive->serial_number());
  const ACE_UINT64 start = clock_->now_ms();
  bool count_failure = false;
  Move_Attempt attempt{d2t::metrics::MOVE_SCAN_LOAD,
                       changer.serial_number(),
                       changer.sg_name(),
                       static_cast<int>(drive->drive_number()),
                       drive->serial_number(),
                       media->slot_number(),
                       0,
                       media->media_tag()};
  if (!Move_Report(attempt).finish(d2t::tools::mount(changer.sg_name(), drive->drive_number(),
                                                     media->slot_number(), media->media_tag(),
                                                     load_unload_retries_, count_failure))) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to mount(%s) %d to %d.\n"),
               d2t::log_text(media->media_tag()).c_str(), media->slot_number(),
               static_cast<int>(drive->drive_number())));
    return false;
  }
  attempt.kind = d2t::metrics::MOVE_SCAN_UNLOAD;
  if (!Move_Report(attempt).finish(d2t::tools::unmount(
          changer.sg_name(), drive->dev_name(), drive->drive_number(), media->slot_number(),
          media->media_tag(), load_unload_retries_, count_failure))) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to unmount(%s) %d to %d.\n"),
               d2t::log_text(media->media_tag()).c_str(), media->slot_number(),
               static_cast<int>(drive->drive_number())));
    // The cartridge stays in the drive: record it there (its home slot
    // keeps the tag), so that an unload can send it home later.
    impl_->set_drive_slot(drive->dev_name(), Value(media->slot_number()));
    drive->slot_number(media->slot_number());
    drive->media_tag(media->media_tag());
    media->media_tag("");
    media->state(d2t::MST_EMPTY);
    return false;
  }
  changer.type(d2t::library_type_for_cycle_ms(clock_->now_ms() - start));
  return true;
}

bool Tape_Controller::add_tape_library(d2t::Changer_var& changer) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  if (changer.null()) return false;

  Object changer_row;
  if (!changer->to_json(changer_row)) return false;
  Controller_Sql sql;
  if (!sql.connected()) {
    ACE_ERROR(
        (LM_ERROR, ACE_TEXT("Failed to connect to database '%C' at %N:%l\n"), "media_controller"));
    return false;
  }

  // Other hosts may keep drives of this library in the inventory: the
  // library's row stays (their rows refer to it) and only this host's
  // drive rows and the slots are replaced. Cartridges in other hosts'
  // drives keep their home slots' tags. The library's exclusive lease
  // keeps every other host's operations on it out meanwhile.
  std::vector<std::pair<std::int32_t, std::string>> kept_homes;
  Object stored;
  ACE_INT64 changer_id = -1;
  if (impl_->get_changer(changer->serial_number(), stored) &&
      json_spirit::object_get(stored, "id", changer_id)) {
    if (!sql.clear_for_scan(changer_id, changer_row, host_id_, kept_homes)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to add changer, serial_number: %s.\n"),
                 d2t::log_text(changer->serial_number()).c_str()));
      return false;
    }
  } else {
    changer_id = impl_->add_changer(changer_row);
  }
  if (changer_id < 0) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to add changer, serial_number: %s.\n"),
               d2t::log_text(changer->serial_number()).c_str()));
    return false;
  }

  for (d2t::Drive_var& drive : changer->drives()) {
    if (drive.null()) continue;
    // A drive registered under another library moves here: start from its
    // old row and delete that row.
    Object row;
    std::int64_t old_id = 0;
    if (impl_->get_drive(drive->serial_number(), row) &&
        json_spirit::object_get(row, "id", old_id)) {
      sql.delete_drive(old_id);
    }
    // The scan found this host's drive at the element: a row another host
    // kept for it is out of date.
    sql.delete_element_drive(changer_id, static_cast<std::int32_t>(drive->drive_number()));
    json_spirit::insert(row)("changer_id", Value(static_cast<std::int64_t>(changer_id)))(
        "target_name", drive->target_name())("lun", Value(drive->lun()))("vendor", drive->vendor())(
        "model", drive->model())("serial_number", drive->serial_number())(
        "drive_number", Value(drive->drive_number()))("dev_name", drive->dev_name())(
        "sg_name", drive->sg_name())(
        "failures", Value(drive->faulty() ? faulty_threshold_.load() : 0))("host_id", host_id_);
    // The scan emptied the drives, so a slot carried over from an old row
    // is stale; a drive still holds a cartridge only when its unload
    // failed during detection, and then the scan recorded that cartridge.
    json_spirit::insert(row)("slot_number",
                             drive->slot_number() >= 1 ? Value(drive->slot_number()) : Value());
    if (impl_->add_drive(row) < 0) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to add drive\n")));
      drive.reset();
    }
  }

  for (d2t::Media_var& media : changer->medias()) {
    if (media.null()) continue;
    if (d2t::re::is_clean_media(media->media_tag())) media->state(d2t::MST_CLEAN);
    if (media->media_tag().empty()) {
      for (const auto& home : kept_homes) {
        if (home.first == media->slot_number()) media->media_tag(home.second);
      }
    }
    Object slot;
    json_spirit::insert(slot)("changer_id", Value(static_cast<std::int64_t>(changer_id)))(
        "slot_number", Value(media->slot_number()))(
        "media_tag", media->media_tag().empty() ? Value() : Value(media->media_tag()))(
        "state", Value(d2t::media_state_to_name(media->state())))(
        "is_porter", Value(media->is_porter()))("occupied", Value(slot_occupied(*media)));
    if (impl_->add_slot(slot) < 0) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to add slot\n")));
      media.reset();
    }
  }
  return true;
}
