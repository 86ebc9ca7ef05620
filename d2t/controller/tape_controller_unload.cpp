// Media unload: send the cartridge in a drive back to its home slot (the
// slot it was loaded from) and record the drive empty.
#include <exception>

#include "d2t/controller/controller_log.h"
#include "d2t/controller/move_report.h"
#include "d2t/controller/robot_lease.h"
#include "d2t/controller/tape_controller.h"
#include "d2t/metrics/metrics.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"
#include "json_spirit/json_helpers.h"

using json_spirit::Object;

namespace {

// The tag the inventory keeps for the cartridge in the drive that `device`
// describes (its home slot's); "" when it names none.
std::string cartridge_in(Tape_Controller_Impl& impl, const Object& device) {
  int slot_number = 0;
  std::int64_t changer_id = 0;
  Object slot;
  if (!json_spirit::object_get(device, "slot_number", slot_number) ||
      !json_spirit::object_get(device, "changer_id", changer_id) ||
      !impl.get_slot(static_cast<ACE_INT64>(changer_id), slot_number, slot))
    return "";
  return json_spirit::object_get_str_or_empty(slot, "media_tag");
}

}  // namespace

bool Tape_Controller::unload(const Object& request, Object& result, Queue_Request* queue) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  try {
    const std::string serial = json_spirit::object_get_str_or_throw(request, "serial_number");
    Object device;
    if (!impl_->get_tape_device(serial, device)) {
      result["message"] = "Failed to prepare devices";
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get device with serial_number '%s'.\n"),
                 d2t::log_text(serial).c_str()));
      return false;
    }
    if (!find_drive(serial, "unload", device)) return false;

    Library_Operation operation;
    operation.kind = Library_Operation::UNLOAD;
    operation.drive = serial;
    Library_Turn turn;
    Drive_Reservations::Hold drive_use;
    const Drive_Turn entered = enter_drive_turn(turn, drive_use, serial, operation, queue, device);
    if (entered != HELD) {
      const Queue_Refusal refusal = turn.ticket().refusal();
      if (refusal != Queue_Refusal::NONE) {
        result["message"] = queue_refusal_message(refusal);
        if (queue != nullptr) queue->operation.media_tag = cartridge_in(*impl_, device);
      } else if (entered == DRIVE_LOST) {
        result["message"] = "Failed to prepare devices";
      }
      return false;
    }
    recheck_suspect(serial, device);
    return unload_drive(serial, device, result);
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Unload input exception: %s\n"), e.what()));
    return false;
  }
}

bool Tape_Controller::unload_drive(const std::string& serial, Object& device, Object& result) {
  try {
    const std::string dev_name = json_spirit::object_get_str_or_empty(device, "dev_name");
    const std::string sg_name = json_spirit::object_get_str_or_empty(device, "sg_name");
    std::int64_t changer_id = 0;
    json_spirit::object_get(device, "changer_id", changer_id);
    const std::string no_rewind = d2t::tools::no_rewind_device(dev_name);

    int slot_number = 0;
    if (!json_spirit::object_get(device, "slot_number", slot_number)) {
      // The inventory says the drive is empty; it is, unless it reports a
      // tape (then the inventory is wrong and nothing can be sent home).
      ACE_ERROR((LM_WARNING, ACE_TEXT("Unload media from drive %s, but no media loaded\n"),
                 d2t::log_text(dev_name).c_str()));
      return !d2t::tools::drive_ready(no_rewind, 0);
    }
    int drive_number = 0;
    int failures = 0;
    json_spirit::object_get(device, "drive_number", drive_number);
    json_spirit::object_get(device, "failures", failures);

    Object slot;
    if (!impl_->get_slot(static_cast<ACE_INT64>(changer_id), slot_number, slot)) {
      result["message"] = "Failed to check media to unload";
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get slot with changer_id=%q, slot_number=%d\n"),
                 static_cast<ACE_INT64>(changer_id), slot_number));
      return false;
    }
    // The home slot keeps the cartridge's tag while the cartridge is out;
    // without it the cartridge cannot be named to the library.
    const std::string* media_tag = json_spirit::object_get_str(slot, "media_tag");
    if (media_tag == nullptr) {
      result["message"] = "Failed to check media to unload";
      ACE_ERROR((LM_ERROR,
                 ACE_TEXT("Failed to find media tag of slot %d, changer_id=%q to unload\n"),
                 slot_number, static_cast<ACE_INT64>(changer_id)));
      return false;
    }

    d2t::tools::Blame blame = d2t::tools::Blame::NONE;
    Move_Report report({d2t::metrics::MOVE_UNLOAD,
                        json_spirit::object_get_str_or_empty(device, "changer_serial_number"),
                        sg_name, drive_number, serial, slot_number, 0, *media_tag});
    if (report.finish(d2t::tools::unmount(sg_name, no_rewind, static_cast<ACE_UINT32>(drive_number),
                                          slot_number, *media_tag, load_unload_retries_, blame))) {
      if (failures != 0) {
        impl_->update_drive_failure(dev_name, 0);
        device["failures"] = 0;
      }
      if (impl_->set_drive_slot(serial, static_cast<ACE_INT64>(0))) {
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("D2T_TRACE| unload %s to slot %d from drive '%s'.\n"),
                   d2t::log_text(*media_tag).c_str(), slot_number, d2t::log_text(serial).c_str()));
        return true;
      }
      // The cartridge is home but the inventory still places it in the
      // drive: say so, rather than an empty failure, and have the next
      // operation on the drive ask the changer.
      mark_suspect(serial);
      result["message"] = "Media was moved to slot " + std::to_string(slot_number) +
                          " but the inventory was not updated";
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to set drive(%s) slot to null after unload.\n"),
                 d2t::log_text(serial).c_str()));
      return false;
    }

    result["message"] = "Failed to unload media";
    if (blame == d2t::tools::Blame::COUNT && failures + 1 < faulty_threshold_) {
      impl_->update_drive_failure(dev_name, failures + 1);
    } else if (blame != d2t::tools::Blame::NONE) {
      result["faulty"] = true;
    }
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to unmount %s to slot %d from drive %s\n"),
               d2t::log_text(*media_tag).c_str(), slot_number, d2t::log_text(serial).c_str()));
    return false;
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Unload input exception: %s\n"), e.what()));
    return false;
  }
}
