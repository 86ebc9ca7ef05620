// POST "/d2/r/tapectl/drive/load" {"serial_number": drive, "media_tag": tag}:
// loads the cartridge into the drive (Tape_Controller::load). The body is
// handed to the controller as it arrived.
//
// Replies:
//   404  no body: the path does not start with the load path
//   405  no body: a method other than POST
//   400  no body: the body is not a JSON object
//   500  the controller's response object: {"message": ...} and, when the
//        drive is to be taken as faulty, "faulty": true
//   503  turned away unstarted (queue_reply.h): {"status", "code",
//        "message"} with the refusal's text
//   otherwise nothing is sent and the framework completes the reply (200)
#ifndef WEBSVCS_CONTROLLER_TAPECTL_DRIVE_LOAD_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_DRIVE_LOAD_HANDLER_H

#include "websvcs/framework/framework.h"

class Drive_Load_Handler : public JSON_RESTful_Handler {
 public:
  static const char* const PATH;  // "/d2/r/tapectl/drive/load"

  // THREAD: a load waits for the robot; loads and unloads of different
  // drives run side by side (the controller's per-library queue keeps them
  // apart from a refresh, rescan or transfer of their library).
  CONCURRENCY concurrency() const override { return THREAD; }

  // Checks path and method, then handle_post. 0 for a null channel.
  int handle_request(JSON_RESTful_Channel* channel, json_spirit::Value& body) override;

  // Does the load for a body that passed the checks; returns 0 or the
  // result of the send.
  int handle_post(JSON_RESTful_Channel* channel, const json_spirit::Value& body);
};

extern "C" JSON_RESTful_Handler* _make_Drive_Load_Handler(void (**gobbler)(void*));

#endif
