// The changer-refresh handler.
#include "websvcs/controller/tapectl/changer_refresh_handler.h"

#include <cerrno>
#include <memory>
#include <new>

#include "d2t/controller/tape_controller.h"
#include "websvcs/controller/tapectl/queue_reply.h"
#include "websvcs/controller/tapectl/refresh_stream.h"

int JSON_RESTful_Changer_Refresh_Handler::handle_get(JSON_RESTful_Channel* channel,
                                                     Parsed_Request& request) {
  const auto serial = request.query_string.find("serial_number");
  if (serial == request.query_string.end()) {
    return channel->send_error(400, -1, "Need 'serial_number' in query string.");
  }
  d2t::Changer_var refreshed(new d2t::Changer());
  Queue_Request queue = queue_request(channel);
  const std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  if (controller && controller->refresh(serial->second, *refreshed, &queue))
    return channel->send_stream(std::unique_ptr<JSON_Stream>(new Refresh_Stream(refreshed)));
  int sent = 0;
  if (answer_turned_away(channel, queue, sent)) return sent;
  return channel->send_error(500, -1, "Failed to refresh changer");
}

namespace {
void _gobble_JSON_RESTful_Changer_Refresh_Handler(void* p) {
  delete static_cast<JSON_RESTful_Handler*>(p);
}
}  // namespace

extern "C" JSON_RESTful_Handler* _make_JSON_RESTful_Changer_Refresh_Handler(
    void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_JSON_RESTful_Changer_Refresh_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) JSON_RESTful_Changer_Refresh_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
