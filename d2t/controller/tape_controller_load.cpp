// Media load: put a cartridge, named by its media tag, into a drive named
// by its serial number, emptying the drive first.
#include "d2t/controller/tape_controller.h"

#include <algorithm>
#include <exception>

#include <ace/Guard_T.h>

#include "d2t/controller/controller_log.h"
#include "d2t/tools/tools.h"
#include "json_spirit/json_helpers.h"

using json_spirit::Object;

bool Tape_Controller::load(const Object& request, Object& result) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  const std::string* serial = json_spirit::object_get_any_ptr<std::string>(request, "serial_number");
  Object device;
  if (serial == nullptr || !pre_load(request, device)) {
    result["message"] = "Failed to prepare devices";
    return false;
  }

  // The move and its record, shared with other moves (see status_lock_).
  ACE_Read_Guard<ACE_RW_Thread_Mutex> moving(status_lock_);
  try {
    const std::string sg_name = json_spirit::object_get_str_or_empty(device, "sg_name");
    const std::string dev_name = json_spirit::object_get_str_or_empty(device, "dev_name");
    int drive_number = 0;
    int failures = 0;
    json_spirit::object_get(device, "drive_number", drive_number);
    json_spirit::object_get(device, "failures", failures);

    // A request without a string tag names no cartridge at all.
    const std::string* media_tag = json_spirit::object_get_any_ptr<std::string>(request, "media_tag");
    Object slot;
    if (media_tag == nullptr || !impl_->get_slot(*media_tag, slot)) {
      result["message"] = "Failed to find media to load";
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to find media with tag %s\n"),
                 media_tag ? media_tag->c_str() : "(none)"));
      return false;
    }
    const std::int64_t slot_number = json_spirit::object_get_int64_or_throw(slot, "slot_number");
    if (slot_number == -1) {
      result["message"] = "Invalid slot_number of media to load";
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get slot_number with media '%s'\n"),
                 json_spirit::JSON_Dump(slot, false).c_str()));
      return false;
    }

    bool count_failure = false;
    const ACE_INT32 slot32 = static_cast<ACE_INT32>(slot_number);
    if (d2t::tools::mount(sg_name, static_cast<ACE_UINT32>(drive_number), slot32, *media_tag,
                          load_unload_retries_, count_failure)) {
      if (failures != 0) impl_->update_drive_failure(dev_name, 0);
      if (impl_->set_drive_slot(*serial, static_cast<ACE_INT64>(slot_number))) {
        ACE_DEBUG((LM_DEBUG, ACE_TEXT("D2T_TRACE| load '%s' from slot %d to drive '%s'.\n"),
                   media_tag->c_str(), slot32, serial->c_str()));
        return true;
      }
      // The inventory cannot say where the cartridge is: put it back. The
      // failure is reported once, below, whatever the move back did.
      d2t::tools::unmount(sg_name, dev_name, static_cast<ACE_UINT32>(drive_number), slot32,
                          *media_tag, load_unload_retries_, count_failure);
      result["message"] = "Failed to save load info";
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to save load info\n")));
      return false;
    }

    result["message"] = "Failed to load media";
    if (count_failure && failures + 1 < faulty_threshold_) {
      impl_->update_drive_failure(dev_name, failures + 1);
    } else {
      result["faulty"] = true;
    }
    return false;
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Exception catch on Tape_Controller::load: %s\n"), e.what()));
    return false;
  }
}

bool Tape_Controller::pre_load(const Object& request, Object& device) {
  try {
    const std::string serial = json_spirit::object_get_str_or_throw(request, "serial_number");
    if (!impl_->get_tape_device(serial, device)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get device with serial_number '%s'.\n"), serial.c_str()));
      return false;
    }

    std::string sg_name = json_spirit::object_get_str_or_empty(device, "sg_name");
    std::string dev_name = json_spirit::object_get_str_or_empty(device, "dev_name");
    if (sg_name.empty() || dev_name.empty()) {
      // The stored names were cleared (devices renamed or gone): rediscover.
      if (!update() || !impl_->get_tape_device(serial, device)) {
        ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to update tape devices before load media.\n")));
        return false;
      }
      sg_name = json_spirit::object_get_str_or_empty(device, "sg_name");
      dev_name = json_spirit::object_get_str_or_empty(device, "dev_name");
      if (sg_name.empty() || dev_name.empty()) {
        ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to find devices for '%s' to load media.\n"), serial.c_str()));
        return false;
      }
    }

    std::vector<d2t::Changer_var> changers;
    std::vector<d2t::Drive_var> drives;
    if (!d2t::list_devices(changers, drives, false)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to list tape devices\n")));
      return false;
    }

    const std::string changer_serial = json_spirit::object_get_str_or_throw(device, "changer_serial_number");
    auto changer = std::find_if(changers.begin(), changers.end(), [&](const d2t::Changer_var& c) {
      return match_changer(c, changer_serial);
    });
    if (changer == changers.end()) return false;
    if ((*changer)->sg_name() != sg_name) {
      update_device_name(changers, drives);
      device["sg_name"] = (*changer)->sg_name();
    }

    auto drive = std::find_if(drives.begin(), drives.end(),
                              [&](const d2t::Drive_var& d) { return match_drive(d, serial); });
    if (drive == drives.end()) return false;
    if ((*drive)->dev_name() != dev_name) {
      update_device_name(changers, drives);
      device["dev_name"] = (*drive)->dev_name();
    }

    int slot_number = -1;
    json_spirit::object_get(device, "slot_number", slot_number);
    if (slot_number != -1) {
      // The drive holds a cartridge: send it home first.
      Object scratch;
      return unload(request, scratch);
    }
    return true;
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Exception catch on pre_load: %s\n"), e.what()));
    return false;
  }
}
