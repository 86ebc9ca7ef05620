// The body of the device-list reply: a JSON array with one library object
// (see tape_generator_helper.h) per tape library of a list, written straight
// into the reply's YAJL generator.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_JSON_LIST_TAPE_GENERATOR_H
#define WEBSVCS_CONTROLLER_TAPECTL_JSON_LIST_TAPE_GENERATOR_H

#include <vector>

#include "d2t/util/changer.h"
#include "websvcs/framework/json_generator.h"

class JSON_List_Tape_Generator : public JSON_Generator {
 public:
  // `devices` is the caller's and must outlive the generator; it is only
  // read, and its null entries are skipped.
  explicit JSON_List_Tape_Generator(const std::vector<d2t::Changer_var>& devices)
      : devices_(devices) {}

  // Writes the array into `g` (which the caller owns): [] for an empty list
  // or one of null entries only. True when every write succeeded.
  bool generate(yajl_gen_t* g) override;

 private:
  const std::vector<d2t::Changer_var>& devices_;
};

#endif
