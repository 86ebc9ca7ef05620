// The device-list handler.
#include "websvcs/controller/tapectl/list_handler.h"

#include <ace/Log_Msg.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "d2t/controller/tape_controller.h"
#include "websvcs/controller/tapectl/json_list_tape_generator.h"
#include "websvcs/controller/tapectl/queue_reply.h"

int JSON_RESTful_List_Handler::handle_get(JSON_RESTful_Channel* channel, Parsed_Request& request) {
  const auto serial = request.query_string.find("serial_number");
  if (serial == request.query_string.end()) {
    return channel->send_error(400, -1, "Need 'serial_number' in query string.");
  }

  std::vector<d2t::Changer_var> changers;
  Queue_Request queue = queue_request(channel);
  const std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  if (controller && controller->rescan(serial->second, changers, &queue)) {
    return channel->send_stream(
        std::unique_ptr<JSON_Stream>(new List_Tape_Stream(std::move(changers))));
  }
  int sent = 0;
  if (answer_turned_away(channel, queue, sent)) return sent;
  channel->response()->status(500, nullptr);
  ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to list tape devices\n")));
  return 0;
}

namespace {
void _gobble_JSON_RESTful_List_Handler(void* p) { delete static_cast<JSON_RESTful_Handler*>(p); }
}  // namespace

extern "C" JSON_RESTful_Handler* _make_JSON_RESTful_List_Handler(void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_JSON_RESTful_List_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) JSON_RESTful_List_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
