// The drive-unload handler.
#include "websvcs/controller/tapectl/drive_unload_handler.h"

#include <cerrno>
#include <new>

#include "websvcs/controller/tapectl/drive_request.h"

const char* const Drive_Unload_Handler::PATH = "/d2/r/tapectl/drive/unload";

int Drive_Unload_Handler::handle_request(JSON_RESTful_Channel* channel, json_spirit::Value& body) {
  if (channel == nullptr) return 0;
  if (check_drive_request(channel, PATH) != 0) return 0;
  return handle_post(channel, body);
}

int Drive_Unload_Handler::handle_post(JSON_RESTful_Channel* channel,
                                      const json_spirit::Value& body) {
  return run_drive_request(channel, body, &Tape_Controller::unload);
}

namespace {
void _gobble_Drive_Unload_Handler(void* p) { delete static_cast<JSON_RESTful_Handler*>(p); }
}  // namespace

extern "C" JSON_RESTful_Handler* _make_Drive_Unload_Handler(void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_Drive_Unload_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) Drive_Unload_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
