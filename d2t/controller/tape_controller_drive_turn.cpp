// The turn of a load or unload: the queue of its drive's library, then the
// drive as it is once the wait is over.
#include <algorithm>
#include <vector>

#include "d2t/controller/controller_log.h"
#include "d2t/controller/tape_controller.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"
#include "json_spirit/json_helpers.h"

using json_spirit::Object;

namespace {

// A drive whose library changed under a waiting operation is followed to
// its new library this many times; more means the inventory keeps moving.
const int MAX_LIBRARY_CHANGES = 2;

}  // namespace

Tape_Controller::Drive_Turn Tape_Controller::enter_drive_turn(
    Library_Turn& turn, Drive_Reservations::Hold& use, const std::string& serial,
    Library_Operation operation, Queue_Request* queue, Object& device) {
  for (int changes = 0;; ++changes) {
    const std::string library =
        json_spirit::object_get_str_or_empty(device, "changer_serial_number");
    if (!enter_turn(turn, library, operation, queue)) return NOT_ENTERED;
    // Not while a scan watches this drive to identify an element.
    use = drive_reservations_.use(serial);

    // What the inventory says now: a rescan that ran meanwhile may have
    // dropped the drive or stored it in another library.
    Object now;
    if (!impl_->get_tape_device(serial, now)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Drive %s is no longer in the inventory.\n"),
                 d2t::log_text(serial).c_str()));
      use.release();
      turn.release();
      return DRIVE_LOST;
    }
    const std::string owner = json_spirit::object_get_str_or_empty(now, "host_id");
    if (!owner.empty() && owner != host_id_) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Drive %s is attached to host %C, not to this host\n"),
                 d2t::log_text(serial).c_str(), d2t::log_text(owner).c_str()));
      use.release();
      turn.release();
      return DRIVE_LOST;
    }
    const std::string stored_library =
        json_spirit::object_get_str_or_empty(now, "changer_serial_number");
    if (stored_library != library) {
      // The queue held is another library's: wait in the right one.
      use.release();
      turn.release();
      if (changes == MAX_LIBRARY_CHANGES) {
        ACE_ERROR((LM_ERROR, ACE_TEXT("Drive %s keeps changing library (now %s); giving up.\n"),
                   d2t::log_text(serial).c_str(), d2t::log_text(stored_library).c_str()));
        return DRIVE_LOST;
      }
      ACE_DEBUG((LM_INFO, ACE_TEXT("Drive %s moved from library %s to %s while waiting.\n"),
                 d2t::log_text(serial).c_str(), d2t::log_text(library).c_str(),
                 d2t::log_text(stored_library).c_str()));
      device.swap(now);
      continue;
    }

    // The device names as the host lists them now: a rescan or a
    // rediscovery may have renamed them while this operation waited.
    std::vector<d2t::Changer_var> changers;
    std::vector<d2t::Drive_var> drives;
    if (!d2t::list_devices(changers, drives, false)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to list tape devices\n")));
      D2T_LOG_LISTING_CAUSE();
      use.release();
      turn.release();
      return DRIVE_LOST;
    }
    auto changer = std::find_if(changers.begin(), changers.end(), [&](const d2t::Changer_var& c) {
      return match_changer(c, library);
    });
    auto drive = std::find_if(drives.begin(), drives.end(),
                              [&](const d2t::Drive_var& d) { return match_drive(d, serial); });
    if (changer == changers.end() || drive == drives.end()) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to find devices for '%s' in library %s.\n"),
                 d2t::log_text(serial).c_str(), d2t::log_text(library).c_str()));
      use.release();
      turn.release();
      return DRIVE_LOST;
    }
    if ((*changer)->sg_name() != json_spirit::object_get_str_or_empty(now, "sg_name") ||
        (*drive)->dev_name() != json_spirit::object_get_str_or_empty(now, "dev_name"))
      update_device_name(changers, drives);
    now["sg_name"] = (*changer)->sg_name();
    now["dev_name"] = (*drive)->dev_name();
    device.swap(now);
    return HELD;
  }
}
