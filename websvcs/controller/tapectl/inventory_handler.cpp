// The read-only inventory route.
#include "websvcs/controller/tapectl/inventory_handler.h"

#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "d2t/controller/tape_controller.h"
#include "websvcs/controller/tapectl/tape_generator_helper.h"
#include "websvcs/framework/yajl_gen.h"

namespace {

YAJL_Gen::Str key(const char* text) {
  return YAJL_Gen::Str(text, std::char_traits<char>::length(text));
}

void write_library(YAJL_Gen& g, const Stored_Library& library) {
  const d2t::Changer& c = *library.changer;
  YAJL_Map_Guard map(g);
  write_changer_keys(g, c);
  g << key("drives");
  {
    YAJL_Array_Guard drives(g);
    for (std::size_t i = 0; i < c.drives().size(); ++i) {
      const d2t::Drive* d = c.drives()[i].get();
      if (d == nullptr) continue;
      YAJL_Map_Guard drive(g);
      write_drive_keys(g, *d);
      g << key("slot_number");
      if (d->slot_number() > 0) {
        g << static_cast<int>(d->slot_number());
      } else {
        g << nullptr;
      }
      g << key("media_tag");
      if (!d->media_tag().empty()) {
        g << d->media_tag();
      } else {
        g << nullptr;
      }
      g << key("failures") << (i < library.failures.size() ? library.failures[i] : 0);
      g << key("host_id") << (i < library.host_ids.size() ? library.host_ids[i] : std::string());
    }
  }
  g << key("slots");
  {
    YAJL_Array_Guard slots(g);
    for (const d2t::Media_var& m : c.medias()) {
      if (m.get() == nullptr) continue;
      YAJL_Map_Guard slot(g);
      write_media_keys(g, *m);
      g << key("occupied") << (library.occupied.count(m->slot_number()) != 0);
    }
  }
}

}  // namespace

bool Inventory_Generator::generate(yajl_gen_t* g) {
  YAJL_Gen gen(g, false);
  {
    YAJL_Array_Guard list(gen);
    for (const Stored_Library& l : libraries_) {
      if (!l.changer.null()) write_library(gen, l);
    }
  }
  return gen.ok();
}

int Inventory_Handler::handle_get(JSON_RESTful_Channel* channel, Parsed_Request& request) {
  const auto serial = request.query_string.find("serial_number");
  std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  const int threshold = controller ? controller->faulty_threshold()
                                   : static_cast<int>(d2t::MAX_DRIVE_CONSECUTIVE_FAILURES);
  std::vector<Stored_Library> libraries;
  if (!read_stored_inventory(serial == request.query_string.end() ? nullptr : &serial->second,
                             threshold, libraries)) {
    return channel->send_error(500, -1, "Failed to read the inventory");
  }
  Inventory_Generator generator(libraries);
  return channel->send_generator(generator);
}

namespace {
void _gobble_Inventory_Handler(void* p) { delete static_cast<JSON_RESTful_Handler*>(p); }
}  // namespace

extern "C" JSON_RESTful_Handler* _make_Inventory_Handler(void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_Inventory_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) Inventory_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
