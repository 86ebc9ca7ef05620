// The drive-load handler.
#include "websvcs/controller/tapectl/drive_load_handler.h"

#include <cerrno>
#include <new>

#include "websvcs/controller/tapectl/drive_request.h"

const char* const Drive_Load_Handler::PATH = "/d2/r/tapectl/drive/load";

int Drive_Load_Handler::handle_request(JSON_RESTful_Channel* channel, json_spirit::Value& body) {
  if (channel == nullptr) return 0;
  if (check_drive_request(channel, PATH) != 0) return 0;
  return handle_post(channel, body);
}

int Drive_Load_Handler::handle_post(JSON_RESTful_Channel* channel, const json_spirit::Value& body) {
  return run_drive_request(channel, body, &Tape_Controller::load);
}

namespace {
void _gobble_Drive_Load_Handler(void* p) { delete static_cast<JSON_RESTful_Handler*>(p); }
}  // namespace

extern "C" JSON_RESTful_Handler* _make_Drive_Load_Handler(void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_Drive_Load_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) Drive_Load_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
