// Drives whose stored slot may be stale: a move on them succeeded but the
// inventory could not record it. The next load or unload of such a drive
// asks the changer what the drive holds instead of trusting the row; a
// refresh of its library, which stores every element's state, clears it.
#include <ace/Log_Msg.h>

#include "d2t/controller/tape_controller.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"
#include "json_spirit/json_helpers.h"

using json_spirit::Object;

void Tape_Controller::mark_suspect(const std::string& serial) {
  std::lock_guard<std::mutex> guard(suspect_lock_);
  suspect_drives_.insert(serial);
}

void Tape_Controller::recheck_suspect(const std::string& serial, Object& device) {
  {
    std::lock_guard<std::mutex> guard(suspect_lock_);
    if (suspect_drives_.count(serial) == 0) return;
  }
  d2t::Changer changer;
  changer.sg_name(json_spirit::object_get_str_or_empty(device, "sg_name"));
  int drive_number = -1;
  json_spirit::object_get(device, "drive_number", drive_number);
  if (!d2t::tools::changer_status(changer) || drive_number < 0 ||
      static_cast<std::size_t>(drive_number) >= changer.drives().size() ||
      changer.drives()[static_cast<std::size_t>(drive_number)].null()) {
    ACE_ERROR((LM_WARNING, ACE_TEXT("Cannot read the state of drive %s to correct its record\n"),
               d2t::log_text(serial).c_str()));
    return;
  }
  const d2t::Drive& element = *changer.drives()[static_cast<std::size_t>(drive_number)];
  // A full element whose source slot the changer does not report says
  // nothing the row could take.
  const bool full = !element.media_tag().empty() || element.slot_number() >= 1;
  if (full && element.slot_number() < 1) return;
  const ACE_INT64 slot = full ? element.slot_number() : 0;
  if (!impl_->set_drive_slot(serial, slot)) return;  // still marked
  {
    std::lock_guard<std::mutex> guard(suspect_lock_);
    suspect_drives_.erase(serial);
  }
  ACE_DEBUG((LM_INFO, ACE_TEXT("Drive %s record corrected from the changer: slot %d\n"),
             d2t::log_text(serial).c_str(), static_cast<int>(slot)));
  Object now;
  if (impl_->get_tape_device(serial, now)) {
    now["sg_name"] = device["sg_name"];
    now["dev_name"] = device["dev_name"];
    device.swap(now);
  }
}

void Tape_Controller::clear_suspects(ACE_INT64 changer_id, const std::set<int>& elements) {
  std::set<std::string> marked;
  {
    std::lock_guard<std::mutex> guard(suspect_lock_);
    marked = suspect_drives_;
  }
  for (const std::string& serial : marked) {
    Object row;
    std::int64_t row_changer = 0;
    int drive_number = -1;
    if (!impl_->get_tape_device(serial, row) ||
        !json_spirit::object_get(row, "changer_id", row_changer) || row_changer != changer_id ||
        !json_spirit::object_get(row, "drive_number", drive_number) ||
        elements.count(drive_number) == 0)
      continue;
    std::lock_guard<std::mutex> guard(suspect_lock_);
    suspect_drives_.erase(serial);
  }
}
