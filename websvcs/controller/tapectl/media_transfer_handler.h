// POST <transfer path> {"serial_number": library, "media_tag": tag,
// "from": slot, "to": slot}: moves the cartridge `tag` from slot `from` to
// slot `to` of the library (Tape_Controller::transfer), after checking the
// request against the inventory. Nothing is moved and the inventory is
// untouched unless every check passes.
//
// Replies (checks in this order; the first that fails answers):
//   400  "Request body is expected as JSON object."
//   400  "'serial_number' is expected as string in request body."
//   400  "'media_tag' is expected as string in request body."
//   400  "'from' is expected as int in request body."   (also for a number
//   400  "'to' is expected as int in request body."      outside 32 bits)
//   400  "Source slot doesn't exist"
//   400  "Target slot doesn't exist"
//   400  "Target slot is full"            (a non-empty tag in the target)
//   400  "Media mismatches with slot"     (source tag null, "" or another)
//   500  "Failed to transfer media"       (move or inventory update failed)
//   503  turned away unstarted, before the slot checks (queue_reply.h)
//   200  the target slot after the move: {"is_porter", "media_tag",
//        "slot_number"}
// Keys other than the four are ignored. The four slot checks are logged.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_MEDIA_TRANSFER_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_MEDIA_TRANSFER_HANDLER_H

#include "websvcs/framework/framework.h"

class JSON_RESTful_Media_Transfer_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  JSON_RESTful_Media_Transfer_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}

  CONCURRENCY concurrency() const override { return THREAD; }

  int handle_post(JSON_RESTful_Channel* channel, Parsed_Request& request) override;
};

extern "C" JSON_RESTful_Handler* _make_JSON_RESTful_Media_Transfer_Handler(void (**gobbler)(void*));

#endif
