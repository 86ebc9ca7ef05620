// What the tape-control handlers share about operations that wait in a
// library's queue: the client check they hand to the controller, and the
// one answer to an operation the controller turned away unstarted.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_QUEUE_REPLY_H
#define WEBSVCS_CONTROLLER_TAPECTL_QUEUE_REPLY_H

#include <string>

#include "d2t/controller/tape_controller.h"
#include "websvcs/framework/framework.h"

// A Queue_Request for the request on `channel`: the controller asks it
// whether the client is still connected before the operation starts.
Queue_Request queue_request(JSON_RESTful_Channel* channel);

// The configured route that served `request`: its path without the part
// below the route (so a bounded text, fit for a metric label).
std::string route_of(const JSON_RESTful_Request& request);

// Nothing (false) unless `queue.refused` is set. Otherwise logs it once, at
// warning: "client went away before ..." (counted in
// d2t_http_abandoned_total{route}) for a client that hung up, the
// refusal's text for the others, each with the route, the library, the
// drive and the cartridge; answers 503 with the refusal's text (a client
// that went away reads nothing of it); stores the send's result in `sent`
// and returns true.
bool answer_turned_away(JSON_RESTful_Channel* channel, const Queue_Request& queue, int& sent);

#endif
