// Media transfer between two slots of one library, and slot lookup.
#include <exception>

#include "d2t/controller/controller_log.h"
#include "d2t/controller/controller_sql.h"
#include "d2t/controller/move_report.h"
#include "d2t/controller/robot_lease.h"
#include "d2t/controller/tape_controller.h"
#include "d2t/metrics/metrics.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"
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
  // The library is the one whose changer device the source row names.
  const std::string* sg_name = json_spirit::object_get_str(from, "sg_name");
  std::string library;
  if (sg_name != nullptr && !sg_name->empty()) {
    Controller_Sql sql;
    if (!sql.changer_serial(*sg_name, library)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to transfer: no library with changer device %s\n"),
                 d2t::log_text(*sg_name).c_str()));
      return false;
    }
  }
  Library_Operation operation;
  operation.kind = Library_Operation::TRANSFER;
  json_spirit::object_get(from, "slot_number", operation.from);
  json_spirit::object_get(to, "slot_number", operation.to);
  operation.media_tag = json_spirit::object_get_str_or_empty(from, "media_tag");
  Library_Turn turn;
  if (!enter_turn(turn, library, operation, nullptr)) return false;
  return move_between_slots(from, to);
}

Tape_Controller::Transfer_Status Tape_Controller::transfer_media(const std::string& serial_number,
                                                                 ACE_INT32 from, ACE_INT32 to,
                                                                 const std::string& media_tag,
                                                                 Object& source, Object& target,
                                                                 Queue_Request* queue) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return TRANSFER_NO_SOURCE;
  }
  Library_Operation operation;
  operation.kind = Library_Operation::TRANSFER;
  operation.from = from;
  operation.to = to;
  operation.media_tag = media_tag;
  // The checks and the move see the same library: nothing else of it runs
  // in between.
  Library_Turn turn;
  if (!enter_turn(turn, serial_number, operation, queue)) {
    return turn.ticket().refusal() != Queue_Refusal::NONE ? TRANSFER_TURNED_AWAY
                                                          : TRANSFER_MOVE_FAILED;
  }
  if (!impl_->get_slot(serial_number, from, source)) return TRANSFER_NO_SOURCE;
  if (!impl_->get_slot(serial_number, to, target)) return TRANSFER_NO_TARGET;
  const std::string* target_tag = json_spirit::object_get_str(target, "media_tag");
  bool target_occupied = false;  // a cartridge without a label has no tag
  json_spirit::object_get(target, "occupied", target_occupied);
  if ((target_tag != nullptr && !target_tag->empty()) || target_occupied)
    return TRANSFER_TARGET_FULL;
  // An empty tag means an empty slot here as for the target: a request for
  // tag "" must not send the robot to fetch from a slot believed empty.
  const std::string* source_tag = json_spirit::object_get_str(source, "media_tag");
  if (source_tag == nullptr || source_tag->empty() || *source_tag != media_tag)
    return TRANSFER_MISMATCH;
  return move_between_slots(source, target) ? TRANSFER_DONE : TRANSFER_MOVE_FAILED;
}

bool Tape_Controller::move_between_slots(const Object& from, const Object& to) {
  try {
    // The changer's device comes from the source row; a row without it
    // cannot be moved by anything.
    const std::string* sg_name = json_spirit::object_get_str(from, "sg_name");
    const int from_slot = json_spirit::object_get_int_or_throw(from, "slot_number");
    const int to_slot = json_spirit::object_get_int_or_throw(to, "slot_number");
    if (sg_name == nullptr || sg_name->empty()) {
      ACE_ERROR((LM_ERROR,
                 ACE_TEXT("Failed to transfer %d to %d: no changer device in slot record\n"),
                 from_slot, to_slot));
      return false;
    }

    std::string library;
    Controller_Sql().changer_serial(*sg_name, library);
    Move_Report report({d2t::metrics::MOVE_TRANSFER, library, *sg_name, -1, std::string(),
                        from_slot, to_slot,
                        json_spirit::object_get_str_or_empty(from, "media_tag")});
    if (!report.finish(d2t::tools::transfer(*sg_name, from_slot, to_slot, load_unload_retries_))) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to transfer %d to %d by %s.\n"), from_slot, to_slot,
                 d2t::log_text(*sg_name).c_str()));
      return false;
    }
    if (impl_->transfer(from, to)) {
      ACE_DEBUG((LM_DEBUG, ACE_TEXT("D2T_TRACE| transfer media from slot %d to slot %d.\n"),
                 from_slot, to_slot));
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
