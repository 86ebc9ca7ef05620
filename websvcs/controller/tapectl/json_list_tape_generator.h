// The body of the device-list reply: a JSON array with one library object
// (see tape_generator_helper.h) per tape library of a list, written straight
// into the reply's YAJL generator, in one go (JSON_List_Tape_Generator) or
// piece by piece while the connection sends it (List_Tape_Stream). Both
// write the same text.
#ifndef WEBSVCS_CONTROLLER_TAPECTL_JSON_LIST_TAPE_GENERATOR_H
#define WEBSVCS_CONTROLLER_TAPECTL_JSON_LIST_TAPE_GENERATOR_H

#include <vector>

#include "d2t/util/changer.h"
#include "websvcs/controller/tapectl/library_stream.h"
#include "websvcs/framework/json_generator.h"

class List_Tape_Stream : public Library_Stream {
 public:
  // Keeps the list (its records are only read).
  explicit List_Tape_Stream(std::vector<d2t::Changer_var> devices) : devices_(std::move(devices)) {}

 protected:
  std::size_t library_count() const override { return devices_.size(); }
  const d2t::Changer* library(std::size_t i) const override { return devices_[i].get(); }
  void write_drives(YAJL_Gen& g, std::size_t i) const override;

 private:
  std::vector<d2t::Changer_var> devices_;
};

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
