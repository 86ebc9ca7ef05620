// The media-transfer handler.
#include "websvcs/controller/tapectl/media_transfer_handler.h"

#include <ace/Log_Msg.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "d2t/controller/tape_controller.h"
#include "json_spirit/json_helpers.h"
#include "websvcs/controller/tapectl/library_guard.h"

namespace {

// A slot number from the body: an integer that fits the controller's
// 32-bit slot numbers. A larger one would otherwise be cut down to some
// other slot's number and move the wrong cartridge.
bool read_slot_number(const json_spirit::Object& body, const char* key, ACE_INT32& out) {
  std::int64_t value = 0;
  if (!json_spirit::object_get(body, key, value)) return false;
  if (value < std::numeric_limits<ACE_INT32>::min() ||
      value > std::numeric_limits<ACE_INT32>::max()) {
    return false;
  }
  out = static_cast<ACE_INT32>(value);
  return true;
}

std::string dump(const json_spirit::Value& v) { return json_spirit::JSON_Dump(v, false); }

}  // namespace

int JSON_RESTful_Media_Transfer_Handler::handle_post(JSON_RESTful_Channel* channel,
                                                     Parsed_Request& request) {
  if (request.body.type() != json_spirit::obj_type) {
    return channel->send_error(400, -1, "Request body is expected as JSON object.");
  }
  const json_spirit::Object& body = request.body.get_obj();
  const std::string* serial_number = json_spirit::object_get_str(body, "serial_number");
  if (serial_number == nullptr) {
    return channel->send_error(400, -1, "'serial_number' is expected as string in request body.");
  }
  const std::string* media_tag = json_spirit::object_get_str(body, "media_tag");
  if (media_tag == nullptr) {
    return channel->send_error(400, -1, "'media_tag' is expected as string in request body.");
  }
  ACE_INT32 from = 0;
  if (!read_slot_number(body, "from", from)) {
    return channel->send_error(400, -1, "'from' is expected as int in request body.");
  }
  ACE_INT32 to = 0;
  if (!read_slot_number(body, "to", to)) {
    return channel->send_error(400, -1, "'to' is expected as int in request body.");
  }

  // The checks below and the move must see the same library: no other
  // move or refresh of it may come between them (library_guard.h).
  Library_Guard guard(*serial_number);
  Tape_Controller* controller = Tape_Controller::instance();
  json_spirit::Object source;
  if (controller == nullptr || !controller->get_slot(*serial_number, from, source)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get source slot, request dump: '%s'.\n"),
               dump(request.body).c_str()));
    return channel->send_error(400, -1, "Source slot doesn't exist");
  }
  json_spirit::Object target;
  if (!controller->get_slot(*serial_number, to, target)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get target slot, request dump: '%s'.\n"),
               dump(request.body).c_str()));
    return channel->send_error(400, -1, "Target slot doesn't exist");
  }
  const std::string* target_tag = json_spirit::object_get_str(target, "media_tag");
  if (target_tag != nullptr && !target_tag->empty()) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Target slot is full '%s', request dump: '%s'.\n"),
               dump(target).c_str(), dump(request.body).c_str()));
    return channel->send_error(400, -1, "Target slot is full");
  }
  // An empty tag means an empty slot here as for the target: a request for
  // tag "" must not send the robot to fetch from a slot believed empty.
  const std::string* source_tag = json_spirit::object_get_str(source, "media_tag");
  if (source_tag == nullptr || source_tag->empty() || *source_tag != *media_tag) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Source slot mismatch '%s', request dump: '%s'.\n"),
               dump(source).c_str(), dump(request.body).c_str()));
    return channel->send_error(400, -1, "Media mismatches with slot");
  }

  if (!controller->transfer(source, target)) {
    return channel->send_error(500, -1, "Failed to transfer media");
  }
  target["media_tag"] = *media_tag;
  target.erase("sg_name");
  target.erase("media_id");
  return channel->send_value(target);
}

namespace {
void _gobble_JSON_RESTful_Media_Transfer_Handler(void* p) {
  delete static_cast<JSON_RESTful_Handler*>(p);
}
}  // namespace

extern "C" JSON_RESTful_Handler* _make_JSON_RESTful_Media_Transfer_Handler(
    void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_JSON_RESTful_Media_Transfer_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) JSON_RESTful_Media_Transfer_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
