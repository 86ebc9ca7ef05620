// GET <inventory path>[?serial_number=S]: the stored inventory, without
// touching any device and without waiting for a move or a scan.
//
// Replies:
//   200  a JSON array of library objects in the shape of the list reply
//        (tape_generator_helper.h), each drive object carrying three more
//        keys after those: "slot_number" (home slot of the cartridge it
//        holds, or null), "media_tag" (that cartridge's tag, or null) and
//        "failures" (its consecutive failure count). With serial_number
//        the one library, or [] when none is stored; without it every
//        stored library, in serial-number order. Slot states are those of
//        stored_inventory.h; each slot object carries one more key after
//        those of the list reply: "occupied" (the last element status or
//        move put a cartridge there, labelled or not; false for the home
//        slot of a cartridge that is in a drive).
//   500  "Failed to read the inventory" when the database cannot be read
#ifndef WEBSVCS_CONTROLLER_TAPECTL_INVENTORY_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_INVENTORY_HANDLER_H

#include <vector>

#include "d2t/controller/stored_inventory.h"
#include "websvcs/framework/framework.h"
#include "websvcs/framework/json_generator.h"

// The reply body: the array of `libraries` (which must outlive it).
class Inventory_Generator : public JSON_Generator {
 public:
  explicit Inventory_Generator(const std::vector<Stored_Library>& libraries)
      : libraries_(libraries) {}
  bool generate(yajl_gen_t* g) override;

 private:
  const std::vector<Stored_Library>& libraries_;
};

class Inventory_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  Inventory_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}
  CONCURRENCY concurrency() const override { return THREAD; }
  // Reads no body; answers without waiting for a library.
  unsigned int traits() const override { return READ_ONLY; }
  int handle_get(JSON_RESTful_Channel* channel, Parsed_Request& request) override;
};

extern "C" JSON_RESTful_Handler* _make_Inventory_Handler(void (**gobbler)(void*));

#endif
