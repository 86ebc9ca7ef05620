// GET <info path>: the host's identity and the tape libraries it sees now.
// Reads neither the query string nor the inventory.
//
// Replies:
//   200  {"changers": [<changer to_json>...], "host_uuid": "..."}; drives
//        are not reported
//   500  "Failed to list devices" when the devices cannot be listed (logged
//        with the reason the listing gives)
#ifndef WEBSVCS_CONTROLLER_TAPECTL_CONTROLLER_INFO_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_CONTROLLER_INFO_HANDLER_H

#include "websvcs/framework/framework.h"

class JSON_RESTful_Controller_Info_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  JSON_RESTful_Controller_Info_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}

  CONCURRENCY concurrency() const override { return THREAD; }
  // Reads no body; answers without waiting for a library.
  unsigned int traits() const override { return READ_ONLY; }

  int handle_get(JSON_RESTful_Channel* channel, Parsed_Request& request) override;
};

extern "C" JSON_RESTful_Handler* _make_JSON_RESTful_Controller_Info_Handler(
    void (**gobbler)(void*));

#endif
