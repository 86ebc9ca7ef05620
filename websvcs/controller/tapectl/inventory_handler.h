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
//        With from=N&count=M (both positive integers) only the slots
//        numbered N or more are listed in each library, at most M of them,
//        in slot-number order, and each library object gains a key after
//        "slots": "slot_count", the number of all its stored slots. A
//        client shows the first screen at once and reads the rest after.
//        Without from and count the reply is the whole one.
//   400  "'from' and 'count' must both be positive integers" (also when
//        only one is given)
//   500  "Failed to read the inventory" when the database cannot be read
// Large replies are streamed to the connection as they are written
// (library_stream.h).
#ifndef WEBSVCS_CONTROLLER_TAPECTL_INVENTORY_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_INVENTORY_HANDLER_H

#include <vector>

#include "d2t/controller/stored_inventory.h"
#include "websvcs/controller/tapectl/library_stream.h"
#include "websvcs/framework/framework.h"
#include "websvcs/framework/json_generator.h"

// The reply body written piece by piece; keeps the libraries. `ranged`
// adds each library's "slot_count" after its slots.
class Inventory_Stream : public Library_Stream {
 public:
  Inventory_Stream(std::vector<Stored_Library> libraries, bool ranged)
      : libraries_(std::move(libraries)), ranged_(ranged) {}

 protected:
  std::size_t library_count() const override { return libraries_.size(); }
  const d2t::Changer* library(std::size_t i) const override { return libraries_[i].changer.get(); }
  void write_drives(YAJL_Gen& g, std::size_t i) const override;
  void write_slot(YAJL_Gen& g, std::size_t i, const d2t::Media& m) const override;
  void write_after_slots(YAJL_Gen& g, std::size_t i) const override;

 private:
  std::vector<Stored_Library> libraries_;
  bool ranged_;
};

// The whole reply body in one go: the array of `libraries` (which must
// outlive it), the same text as Inventory_Stream's.
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
