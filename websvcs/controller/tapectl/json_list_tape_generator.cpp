// The device-list reply body.
#include "websvcs/controller/tapectl/json_list_tape_generator.h"

#include "websvcs/controller/tapectl/tape_generator_helper.h"
#include "websvcs/framework/yajl_gen.h"

bool JSON_List_Tape_Generator::generate(yajl_gen_t* g) {
  YAJL_Gen gen(g, false);
  {
    YAJL_Array_Guard list(gen);
    for (const d2t::Changer_var& c : devices_) {
      if (c.get() != nullptr) gen << c;
    }
  }
  return gen.ok();
}
