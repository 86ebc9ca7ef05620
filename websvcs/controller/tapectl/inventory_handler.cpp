// The read-only inventory route.
#include "websvcs/controller/tapectl/inventory_handler.h"

#include <cerrno>
#include <limits>
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

}  // namespace

void Inventory_Stream::write_drives(YAJL_Gen& g, std::size_t l) const {
  const Stored_Library& library = libraries_[l];
  const d2t::Changer& c = *library.changer;
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

void Inventory_Stream::write_slot(YAJL_Gen& g, std::size_t l, const d2t::Media& m) const {
  YAJL_Map_Guard slot(g);
  write_media_keys(g, m);
  g << key("occupied") << (libraries_[l].occupied.count(m.slot_number()) != 0);
}

void Inventory_Stream::write_after_slots(YAJL_Gen& g, std::size_t l) const {
  if (ranged_) g << key("slot_count") << static_cast<long long>(libraries_[l].slot_count);
}

bool Inventory_Generator::generate(yajl_gen_t* g) {
  Inventory_Stream stream(libraries_, false);
  return write_whole(stream, g);
}

namespace {

// A whole number in 1..INT_MAX, written in decimal digits only.
bool positive_int(const std::string& text, int& out) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long long v = std::stoll(text);
  if (v < 1 || v > std::numeric_limits<int>::max()) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int Inventory_Handler::handle_get(JSON_RESTful_Channel* channel, Parsed_Request& request) {
  const auto serial = request.query_string.find("serial_number");
  const auto from = request.query_string.find("from");
  const auto count = request.query_string.find("count");
  Slot_Range range;
  const bool ranged = from != request.query_string.end() || count != request.query_string.end();
  if (ranged) {
    if (from == request.query_string.end() || count == request.query_string.end() ||
        !positive_int(from->second, range.from) || !positive_int(count->second, range.count))
      return channel->send_error(400, -1, "'from' and 'count' must both be positive integers");
  }
  std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  const int threshold = controller ? controller->faulty_threshold()
                                   : static_cast<int>(d2t::MAX_DRIVE_CONSECUTIVE_FAILURES);
  std::vector<Stored_Library> libraries;
  if (!read_stored_inventory(serial == request.query_string.end() ? nullptr : &serial->second,
                             threshold, libraries, ranged ? &range : nullptr)) {
    return channel->send_error(500, -1, "Failed to read the inventory");
  }
  return channel->send_stream(
      std::unique_ptr<JSON_Stream>(new Inventory_Stream(std::move(libraries), ranged)));
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
