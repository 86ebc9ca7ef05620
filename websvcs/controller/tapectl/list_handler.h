// GET <list path>?serial_number=S: rescans the tape library S and replies
// with the device tree of what was scanned.
//
// Replies:
//   200  a JSON array (json_list_tape_generator.h): the library, or []
//        when no library has that serial number
//   400  "Need 'serial_number' in query string."
//   500  no body, when the rescan fails (no inventory, devices not listed);
//        logged as "Failed to list tape devices"
//   503  the rescan was turned away unstarted (queue_reply.h): "Service is
//        stopping", "Timed out waiting for the library", "Too many
//        operations waiting for the library"
// A list that arrives while an identical one waits joins it and gets the
// same answer.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_LIST_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_LIST_HANDLER_H

#include "websvcs/framework/framework.h"

class JSON_RESTful_List_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  JSON_RESTful_List_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}

  // THREAD: a rescan moves cartridges for minutes; requests run in threads
  // of their own and the controller serialises the scans.
  CONCURRENCY concurrency() const override { return THREAD; }
  // Reads no body; may wait for the library.
  unsigned int traits() const override { return 0; }

  int handle_get(JSON_RESTful_Channel* channel, Parsed_Request& request) override;
};

extern "C" JSON_RESTful_Handler* _make_JSON_RESTful_List_Handler(void (**gobbler)(void*));

#endif
