// What the drive load and unload handlers share: the path and method checks
// of their requests and the call into the controller.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_DRIVE_REQUEST_H
#define WEBSVCS_CONTROLLER_TAPECTL_DRIVE_REQUEST_H

#include "d2t/controller/tape_controller.h"
#include "websvcs/framework/framework.h"

// 0 when the request's path starts with `path` and its method is POST;
// otherwise the status set on the response (404 or 405, no body).
int check_drive_request(JSON_RESTful_Channel* channel, const char* path);

// Runs `operation` (Tape_Controller::load or ::unload) on a body that passed
// the checks, holding the controller for the whole call (the controller
// queues it behind other work on the drive's library). 400 without a body
// when `body` is not an object; 0 and nothing sent on success; 503 when the
// operation was turned away unstarted (queue_reply.h); 500 with the
// controller's response object on other failures.
typedef bool (Tape_Controller::*Drive_Operation)(const json_spirit::Object&, json_spirit::Object&,
                                                 Queue_Request*);
int run_drive_request(JSON_RESTful_Channel* channel, const json_spirit::Value& body,
                      Drive_Operation operation);

#endif
