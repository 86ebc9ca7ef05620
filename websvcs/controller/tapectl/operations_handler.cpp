// The operations route.
#include "websvcs/controller/tapectl/operations_handler.h"

#include <cerrno>
#include <memory>
#include <new>

#include "d2t/controller/tape_controller.h"

int Operations_Handler::handle_get(JSON_RESTful_Channel* channel, Parsed_Request&) {
  std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  if (!controller) return channel->send_value(json_spirit::Array());
  return channel->send_value(controller->operations());
}

namespace {
void _gobble_Operations_Handler(void* p) { delete static_cast<JSON_RESTful_Handler*>(p); }
}  // namespace

extern "C" JSON_RESTful_Handler* _make_Operations_Handler(void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_Operations_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) Operations_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
