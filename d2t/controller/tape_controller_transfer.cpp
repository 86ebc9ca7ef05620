// Media transfer between two slots of one library, and slot lookup.
#include "d2t/controller/tape_controller.h"

#include <exception>

#include <ace/Guard_T.h>

#include "d2t/controller/controller_log.h"
#include "d2t/tools/tools.h"
#include "json_spirit/json_helpers.h"

using json_spirit::Object;

bool Tape_Controller::get_slot(const std::string& serial_number, ACE_INT32 slot_number,
                               Object& result) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  return impl_->get_slot(serial_number, slot_number, result);
}

bool Tape_Controller::transfer(const Object& from, const Object& to) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  ACE_Read_Guard<ACE_RW_Thread_Mutex> moving(status_lock_);
  try {
    // The changer's device comes from the source row; a row without it
    // cannot be moved by anything.
    const std::string* sg_name = json_spirit::object_get_str(from, "sg_name");
    const int from_slot = json_spirit::object_get_int_or_throw(from, "slot_number");
    const int to_slot = json_spirit::object_get_int_or_throw(to, "slot_number");
    if (sg_name == nullptr || sg_name->empty()) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to transfer %d to %d: no changer device in slot record\n"),
                 from_slot, to_slot));
      return false;
    }

    if (!d2t::tools::transfer(*sg_name, from_slot, to_slot, load_unload_retries_)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to transfer %d to %d by %s.\n"), from_slot, to_slot,
                 sg_name->c_str()));
      return false;
    }
    if (impl_->transfer(from, to)) {
      ACE_DEBUG((LM_DEBUG, ACE_TEXT("D2T_TRACE| transfer media from slot %d to slot %d.\n"), from_slot,
                 to_slot));
      return true;
    }
    // The inventory still shows the cartridge in the source slot: put it
    // back there. The inventory layer has logged why it refused the move.
    d2t::tools::transfer(*sg_name, to_slot, from_slot, load_unload_retries_);
    return false;
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Transfer object exception: %C.\n"), e.what()));
    return false;
  }
}
