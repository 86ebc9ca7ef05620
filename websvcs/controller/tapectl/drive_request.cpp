// Shared request handling of the drive load and unload handlers.
#include "websvcs/controller/tapectl/drive_request.h"

#include <cstring>
#include <memory>

#include "websvcs/controller/tapectl/queue_reply.h"

int check_drive_request(JSON_RESTful_Channel* channel, const char* path) {
  const JSON_RESTful_Request& request = channel->request();
  // A path that only starts with the handler's path is served too.
  const char* p = request.path(1);
  if (p == nullptr || std::strncmp(p, path, std::strlen(path)) != 0) {
    channel->response()->status(404, nullptr);
    return 404;
  }
  if (request.method() != METHOD_POST) {
    channel->response()->status(405, nullptr);
    return 405;
  }
  return 0;
}

int run_drive_request(JSON_RESTful_Channel* channel, const json_spirit::Value& body,
                      Drive_Operation operation) {
  if (body.type() != json_spirit::obj_type) {
    channel->response()->status(400, nullptr);
    return 0;
  }
  const json_spirit::Object& request = body.get_obj();
  json_spirit::Object result;
  Queue_Request queue = queue_request(channel);
  const std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  if (controller && ((*controller).*operation)(request, result, &queue)) return 0;
  int sent = 0;
  if (answer_turned_away(channel, queue, sent)) return sent;
  channel->response()->status(500, nullptr);
  return channel->send_value(result);
}
