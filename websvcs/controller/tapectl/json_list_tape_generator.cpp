// The device-list reply body.
#include "websvcs/controller/tapectl/json_list_tape_generator.h"

#include "websvcs/controller/tapectl/tape_generator_helper.h"
#include "websvcs/framework/yajl_gen.h"

void List_Tape_Stream::write_drives(YAJL_Gen& g, std::size_t i) const {
  for (const d2t::Drive_var& d : devices_[i]->drives()) {
    if (d.get() != nullptr) g << d;
  }
}

bool JSON_List_Tape_Generator::generate(yajl_gen_t* g) {
  List_Tape_Stream stream(devices_);
  return write_whole(stream, g);
}
