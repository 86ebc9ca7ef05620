// The media-transfer handler.
#include "websvcs/controller/tapectl/media_transfer_handler.h"

#include <ace/Log_Msg.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "d2t/controller/tape_controller.h"
#include "d2t/util/log_text.h"
#include "json_spirit/json_helpers.h"
#include "websvcs/controller/tapectl/queue_reply.h"

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

// A request body or slot row for a log line: as JSON, escaped and cut
// like every outside text.
std::string dump(const json_spirit::Value& v) {
  return d2t::log_text(json_spirit::JSON_Dump(v, false), 512);
}

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

  // The controller checks the slots and moves as one operation of the
  // library: no other move or refresh of it comes between them.
  json_spirit::Object source, target;
  Queue_Request queue = queue_request(channel);
  const std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  const Tape_Controller::Transfer_Status status =
      controller
          ? controller->transfer_media(*serial_number, from, to, *media_tag, source, target, &queue)
          : Tape_Controller::TRANSFER_NO_SOURCE;
  int sent = 0;
  switch (status) {
    case Tape_Controller::TRANSFER_DONE:
      break;
    case Tape_Controller::TRANSFER_TURNED_AWAY:
      if (answer_turned_away(channel, queue, sent)) return sent;
      return channel->send_error(503, -1, queue_refusal_message(queue.refused));
    case Tape_Controller::TRANSFER_NO_SOURCE:
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get source slot, request dump: '%s'.\n"),
                 dump(request.body).c_str()));
      return channel->send_error(400, -1, "Source slot doesn't exist");
    case Tape_Controller::TRANSFER_NO_TARGET:
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to get target slot, request dump: '%s'.\n"),
                 dump(request.body).c_str()));
      return channel->send_error(400, -1, "Target slot doesn't exist");
    case Tape_Controller::TRANSFER_TARGET_FULL:
      ACE_ERROR((LM_ERROR, ACE_TEXT("Target slot is full '%s', request dump: '%s'.\n"),
                 dump(target).c_str(), dump(request.body).c_str()));
      return channel->send_error(400, -1, "Target slot is full");
    case Tape_Controller::TRANSFER_MISMATCH:
      ACE_ERROR((LM_ERROR, ACE_TEXT("Source slot mismatch '%s', request dump: '%s'.\n"),
                 dump(source).c_str(), dump(request.body).c_str()));
      return channel->send_error(400, -1, "Media mismatches with slot");
    case Tape_Controller::TRANSFER_MOVE_FAILED:
      return channel->send_error(500, -1, "Failed to transfer media");
  }
  target["media_tag"] = *media_tag;
  target.erase("sg_name");
  target.erase("media_id");
  target.erase("occupied");  // the stored occupancy is not part of this reply
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
