// GET <operations path>: what each library is doing now and what waits for
// it, exactly as Tape_Controller::operations() gives it: an array with one
// object per library that has running or queued work,
//   {"serial_number": S, "running": [OP...], "queued": [OP...]}
// (see tape_controller.h for OP). Never waits for a robot.
//
// Replies:
//   200  that array ([] when nothing runs, or there is no controller)
#ifndef WEBSVCS_CONTROLLER_TAPECTL_OPERATIONS_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_OPERATIONS_HANDLER_H

#include "websvcs/framework/framework.h"

class Operations_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  Operations_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}
  CONCURRENCY concurrency() const override { return THREAD; }
  // Reads no body; answers without waiting for a library.
  unsigned int traits() const override { return READ_ONLY; }
  int handle_get(JSON_RESTful_Channel* channel, Parsed_Request& request) override;
};

extern "C" JSON_RESTful_Handler* _make_Operations_Handler(void (**gobbler)(void*));

#endif
