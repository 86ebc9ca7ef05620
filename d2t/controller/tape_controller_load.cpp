// Media load: put a cartridge, named by its media tag, into a drive named
// by its serial number, emptying the drive first.
#include <algorithm>
#include <cstring>
#include <exception>

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

namespace {

// What a failed load or unload means for the drive's record: a failure the
// drive is blamed for is counted, up to the threshold where the drive is
// reported faulty; a failure that says nothing about the drive is neither.
void blame_drive(Tape_Controller_Impl& impl, d2t::tools::Blame blame, const std::string& dev_name,
                 int failures, int threshold, Object& result) {
  if (blame == d2t::tools::Blame::NONE) return;
  if (blame == d2t::tools::Blame::COUNT && failures + 1 < threshold) {
    impl.update_drive_failure(dev_name, failures + 1);
  } else {
    result["faulty"] = true;
  }
}

}  // namespace

bool Tape_Controller::load(const Object& request, Object& result, Queue_Request* queue) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  const std::string* serial =
      json_spirit::object_get_any_ptr<std::string>(request, "serial_number");
  Object device;
  if (serial == nullptr || !find_drive(*serial, "load", device)) {
    result["message"] = "Failed to prepare devices";
    return false;
  }
  const std::string* media_tag = json_spirit::object_get_any_ptr<std::string>(request, "media_tag");

  Library_Operation operation;
  operation.kind = Library_Operation::LOAD;
  operation.drive = *serial;
  if (media_tag != nullptr) operation.media_tag = *media_tag;
  Library_Turn turn;
  Drive_Reservations::Hold drive_use;
  if (enter_drive_turn(turn, drive_use, *serial, operation, queue, device) != HELD) {
    const Queue_Refusal refusal = turn.ticket().refusal();
    result["message"] = refusal != Queue_Refusal::NONE ? queue_refusal_message(refusal)
                                                       : "Failed to prepare devices";
    return false;
  }
  try {
    recheck_suspect(*serial, device);

    // The cartridge must be known in the drive's library, and not in some
    // other drive, before anything moves. A request without a string tag
    // names no cartridge at all.
    std::int64_t changer_id = 0;
    json_spirit::object_get(device, "changer_id", changer_id);
    ACE_INT32 slot32 = 0;
    std::string holder, holder_host;
    Controller_Sql sql;
    if (media_tag == nullptr ||
        !sql.find_cartridge(changer_id, *media_tag, slot32, holder, holder_host)) {
      result["message"] = "Failed to find media to load";
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to find media with tag %s\n"),
                 media_tag ? d2t::log_text(*media_tag).c_str() : "(none)"));
      return false;
    }
    if (slot32 == -1) {
      result["message"] = "Invalid slot_number of media to load";
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get slot_number with media '%s'\n"),
                 d2t::log_text(*media_tag).c_str()));
      return false;
    }
    if (!holder.empty() && holder != *serial) {
      result["message"] = "Media is loaded in another drive";
      if (holder_host.empty() || holder_host == host_id_) {
        ACE_ERROR((LM_ERROR,
                   ACE_TEXT("Media %s is loaded in drive %s, refusing to load it into drive %s\n"),
                   d2t::log_text(*media_tag).c_str(), d2t::log_text(holder).c_str(),
                   d2t::log_text(*serial).c_str()));
      } else {
        ACE_ERROR((LM_ERROR,
                   ACE_TEXT("Media %s is loaded in drive %s of host %C, refusing to load it into "
                            "drive %s\n"),
                   d2t::log_text(*media_tag).c_str(), d2t::log_text(holder).c_str(),
                   d2t::log_text(holder_host).c_str(), d2t::log_text(*serial).c_str()));
      }
      return false;
    }

    if (!pre_load(request, device)) {
      result["message"] = "Failed to prepare devices";
      return false;
    }

    const std::string sg_name = json_spirit::object_get_str_or_empty(device, "sg_name");
    const std::string dev_name = json_spirit::object_get_str_or_empty(device, "dev_name");
    int drive_number = 0;
    int failures = 0;
    json_spirit::object_get(device, "drive_number", drive_number);
    json_spirit::object_get(device, "failures", failures);

    d2t::tools::Blame blame = d2t::tools::Blame::NONE;
    bool count_failure = false;
    Move_Report report({d2t::metrics::MOVE_LOAD,
                        json_spirit::object_get_str_or_empty(device, "changer_serial_number"),
                        sg_name, drive_number, *serial, slot32, 0, *media_tag});
    if (report.finish(d2t::tools::mount(sg_name, static_cast<ACE_UINT32>(drive_number), slot32,
                                        *media_tag, load_unload_retries_, blame))) {
      if (failures != 0) impl_->update_drive_failure(dev_name, 0);
      if (impl_->set_drive_slot(*serial, static_cast<ACE_INT64>(slot32))) {
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("D2T_TRACE| load '%s' from slot %d to drive '%s'.\n"),
                   d2t::log_text(*media_tag).c_str(), slot32, d2t::log_text(*serial).c_str()));
        return true;
      }
      // The inventory cannot say where the cartridge is: put it back. The
      // failure is reported once, below, whatever the move back did; the
      // next operation on the drive asks the changer what it holds.
      mark_suspect(*serial);
      d2t::tools::unmount(sg_name, dev_name, static_cast<ACE_UINT32>(drive_number), slot32,
                          *media_tag, load_unload_retries_, count_failure);
      result["message"] = "Failed to save load info";
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to save load info\n")));
      return false;
    }

    result["message"] = "Failed to load media";
    blame_drive(*impl_, blame, dev_name, failures, faulty_threshold_, result);
    return false;
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Exception catch on Tape_Controller::load: %s\n"), e.what()));
    return false;
  }
}

bool Tape_Controller::find_drive(const std::string& serial, const char* verb, Object& device) {
  if (!impl_->get_tape_device(serial, device)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get device with serial_number '%s'.\n"),
               d2t::log_text(serial).c_str()));
    return false;
  }
  // Another host's drive: its stored device names are that host's, and
  // this host has no path to it.
  const std::string owner = json_spirit::object_get_str_or_empty(device, "host_id");
  if (!owner.empty() && owner != host_id_) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Drive %s is attached to host %C, not to this host\n"),
               serial.c_str(), d2t::log_text(owner).c_str()));
    return false;
  }
  const std::string sg_name = json_spirit::object_get_str_or_empty(device, "sg_name");
  const std::string dev_name = json_spirit::object_get_str_or_empty(device, "dev_name");
  if (!sg_name.empty() && !dev_name.empty()) return true;

  // The stored names were cleared (devices renamed or gone): rediscover
  // them. Only names are written, so no library is waited for.
  if (!rediscover_names() || !impl_->get_tape_device(serial, device)) {
    if (std::strcmp(verb, "load") == 0)
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to update tape devices before load media.\n")));
    else
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to update devices before unload media.\n")));
    return false;
  }
  if (json_spirit::object_get_str_or_empty(device, "sg_name").empty() ||
      json_spirit::object_get_str_or_empty(device, "dev_name").empty()) {
    if (std::strcmp(verb, "load") == 0)
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to find devices for '%s' to load media.\n"),
                 d2t::log_text(serial).c_str()));
    else
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to find devices for '%s' to unload media.\n"),
                 d2t::log_text(serial).c_str()));
    return false;
  }
  return true;
}

bool Tape_Controller::pre_load(const Object& request, Object& device) {
  try {
    const std::string serial = json_spirit::object_get_str_or_throw(request, "serial_number");
    int slot_number = -1;
    json_spirit::object_get(device, "slot_number", slot_number);
    if (slot_number != -1) {
      // The drive holds a cartridge: send it home first.
      Object scratch;
      if (!unload_drive(serial, device, scratch)) return false;
      device.erase("slot_number");
    }
    return true;
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Exception catch on pre_load: %s\n"), e.what()));
    return false;
  }
}
