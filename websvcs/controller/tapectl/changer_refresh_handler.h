// GET <refresh path>?serial_number=S: re-reads the element status of the
// tape library S, brings the inventory in line with it
// (Tape_Controller::refresh) and replies with the library that the refresh
// built: the changer's keys plus "drives" and "slots".
//
// Replies:
//   200  the refresh result object
//   400  "Need 'serial_number' in query string."
//   500  "Failed to refresh changer" (the controller logged the cause)
//   503  the refresh was turned away unstarted (queue_reply.h)
// A refresh that arrives while an identical one waits joins it and gets
// the same answer.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_CHANGER_REFRESH_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_CHANGER_REFRESH_HANDLER_H

#include "websvcs/framework/framework.h"

class JSON_RESTful_Changer_Refresh_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  JSON_RESTful_Changer_Refresh_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}

  CONCURRENCY concurrency() const override { return THREAD; }
  // Reads no body; may wait for the library.
  unsigned int traits() const override { return 0; }

  int handle_get(JSON_RESTful_Channel* channel, Parsed_Request& request) override;
};

extern "C" JSON_RESTful_Handler* _make_JSON_RESTful_Changer_Refresh_Handler(
    void (**gobbler)(void*));

#endif
