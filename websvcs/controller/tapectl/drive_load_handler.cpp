// The drive-load handler.
#include "websvcs/controller/tapectl/drive_load_handler.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>

#include "d2t/controller/tape_controller.h"
#include "websvcs/controller/tapectl/library_guard.h"

const char* const Drive_Load_Handler::PATH = "/d2/r/tapectl/drive/load";

int Drive_Load_Handler::handle_request(JSON_RESTful_Channel* channel, json_spirit::Value& body) {
  if (channel == nullptr) return 0;
  CGI_Response* response = channel->response();
  const JSON_RESTful_Request& request = channel->request();
  // A path that only starts with the handler's path is served too.
  const char* path = request.path(1);
  if (path == nullptr || std::strncmp(path, PATH, std::strlen(PATH)) != 0) {
    response->status(404, nullptr);
    return 0;
  }
  if (request.method() != METHOD_POST) {
    response->status(405, nullptr);
    return 0;
  }
  return handle_post(channel, body);
}

int Drive_Load_Handler::handle_post(JSON_RESTful_Channel* channel, const json_spirit::Value& body) {
  if (body.type() != json_spirit::obj_type) {
    channel->response()->status(400, nullptr);
    return 0;
  }
  const json_spirit::Object& request = body.get_obj();
  // Drive moves share their library with each other, not with a refresh,
  // rescan or transfer of it (library_guard.h).
  std::optional<Library_Guard> guard;
  const std::string library = library_of_drive(request);
  if (!library.empty()) guard.emplace(library, Library_Guard::SHARED);
  json_spirit::Object result;
  Tape_Controller* controller = Tape_Controller::instance();
  if (controller != nullptr && controller->load(request, result)) return 0;
  channel->response()->status(500, nullptr);
  return channel->send_value(result);
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
