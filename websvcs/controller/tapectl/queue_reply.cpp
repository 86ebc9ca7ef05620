// The handlers' side of the controller's queues.
#include "websvcs/controller/tapectl/queue_reply.h"

#include <ace/Log_Msg.h>

#include "d2t/metrics/metrics.h"
#include "d2t/util/log_text.h"

Queue_Request queue_request(JSON_RESTful_Channel* channel) {
  Queue_Request queue;
  // The channel outlives the controller call that asks.
  queue.still_wanted = [channel] { return channel->request().client_connected(); };
  return queue;
}

std::string route_of(const JSON_RESTful_Request& request) {
  const char* p = request.path(1);
  std::string path = p != nullptr ? p : "";
  const std::string& suffix = request.uri_suffix();
  // The route matched the path up to a "/" before the suffix.
  if (!suffix.empty() && path.size() > suffix.size() &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0 &&
      path[path.size() - suffix.size() - 1] == '/')
    path.erase(path.size() - suffix.size() - 1);
  return path;
}

bool answer_turned_away(JSON_RESTful_Channel* channel, const Queue_Request& queue, int& sent) {
  if (queue.refused == Queue_Refusal::NONE) return false;
  const std::string route = route_of(channel->request());
  const Library_Operation& op = queue.operation;
  const std::string what = "(" + std::string(Library_Operation::kind_name(op.kind)) + ", library " +
                           d2t::log_text(queue.library) + ", drive " +
                           (op.drive.empty() ? "-" : d2t::log_text(op.drive)) + ", cartridge " +
                           (op.media_tag.empty() ? "-" : d2t::log_text(op.media_tag)) + ")";
  if (queue.refused == Queue_Refusal::ABANDONED) {
    d2t::metrics::record_abandoned(route);
    ACE_ERROR((LM_WARNING, ACE_TEXT("client went away before %C %C; dropped, nothing moved\n"),
               d2t::log_text(route).c_str(), what.c_str()));
  } else {
    ACE_ERROR((LM_WARNING, ACE_TEXT("Refused %C %C: %C\n"), d2t::log_text(route).c_str(),
               what.c_str(), queue_refusal_message(queue.refused)));
  }
  sent = channel->send_error(503, -1, queue_refusal_message(queue.refused));
  return true;
}
