// POST "/d2/r/tapectl/drive/unload" {"serial_number": drive}: sends the
// cartridge in the drive back to its home slot (Tape_Controller::unload).
// The body is handed to the controller as it arrived.
//
// Replies as for the load handler (drive_load_handler.h), with the unload
// path; a failed unload may answer 500 with an empty object {} (the
// controller writes no message for every failure).
#ifndef WEBSVCS_CONTROLLER_TAPECTL_DRIVE_UNLOAD_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_DRIVE_UNLOAD_HANDLER_H

#include "websvcs/framework/framework.h"

class Drive_Unload_Handler : public JSON_RESTful_Handler {
 public:
  static const char* const PATH;  // "/d2/r/tapectl/drive/unload"

  CONCURRENCY concurrency() const override { return THREAD; }

  int handle_request(JSON_RESTful_Channel* channel, json_spirit::Value& body) override;
  int handle_post(JSON_RESTful_Channel* channel, const json_spirit::Value& body);
};

extern "C" JSON_RESTful_Handler* _make_Drive_Unload_Handler(void (**gobbler)(void*));

#endif
