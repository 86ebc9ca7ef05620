// JSON objects of tape libraries, drives and slots, written key by key into
// a YAJL generator.
#include "websvcs/controller/tapectl/tape_generator_helper.h"

#include <cstddef>

namespace {

// A key literal as a string of its exact length.
template <std::size_t N>
YAJL_Gen::Str key(const char (&text)[N]) {
  return YAJL_Gen::Str(text, N - 1);
}

// Capacity and usage are only meaningful for a data cartridge whose kind
// is known.
bool has_capacity(d2t::Media_State state) {
  return state != d2t::MST_EMPTY && state != d2t::MST_CLEAN && state != d2t::MST_UNKNOWN;
}

}  // namespace

YAJL_Gen& operator<<(YAJL_Gen& g, const d2t::Media_var& media) {
  const d2t::Media* m = media.get();
  if (m == nullptr) return g;
  YAJL_Map_Guard map(g);
  write_media_keys(g, *m);
  return g;
}

void write_media_keys(YAJL_Gen& g, const d2t::Media& media) {
  const d2t::Media* m = &media;
  const d2t::Media_State state = m->state();
  g << key("slot_number") << static_cast<int>(m->slot_number());
  g << key("state") << d2t::media_state_to_name(state);
  g << key("is_porter") << m->is_porter();
  if (state != d2t::MST_EMPTY) g << key("media_tag") << m->media_tag();
  if (has_capacity(state)) {
    g << key("capacity") << static_cast<unsigned long>(m->capacity());
    g << key("used") << static_cast<unsigned long>(m->used());
    if (!m->label().empty()) g << key("label") << m->label();
    if (!m->media_pool_uuid().empty()) g << key("media_pool_uuid") << m->media_pool_uuid();
  }
}

YAJL_Gen& operator<<(YAJL_Gen& g, const d2t::Drive_var& drive) {
  const d2t::Drive* d = drive.get();
  if (d == nullptr) return g;
  YAJL_Map_Guard map(g);
  write_drive_keys(g, *d);
  return g;
}

void write_drive_keys(YAJL_Gen& g, const d2t::Drive& d) {
  g << key("drive_number") << static_cast<unsigned int>(d.drive_number());
  g << key("vendor") << d.vendor();
  g << key("model") << d.model();
  g << key("serial_number") << d.serial_number();
  g << key("lun") << static_cast<unsigned int>(d.lun());
  g << key("target_name") << d.target_name();
  g << key("dev_name") << d.dev_name();
  g << key("sg_name") << d.sg_name();
  g << key("faulty") << d.faulty();
}

YAJL_Gen& operator<<(YAJL_Gen& g, const d2t::Changer_var& changer) {
  const d2t::Changer* c = changer.get();
  if (c == nullptr) return g;
  YAJL_Map_Guard map(g);
  write_changer_keys(g, *c);
  g << key("drives");
  {
    YAJL_Array_Guard drives(g);
    for (const d2t::Drive_var& d : c->drives()) {
      if (d.get() != nullptr) g << d;
    }
  }
  g << key("slots");
  {
    YAJL_Array_Guard slots(g);
    for (const d2t::Media_var& m : c->medias()) {
      if (m.get() != nullptr) g << m;
    }
  }
  return g;
}

void write_changer_keys(YAJL_Gen& g, const d2t::Changer& c) {
  g << key("target_name") << c.target_name();
  g << key("lun") << static_cast<unsigned int>(c.lun());
  g << key("vendor") << c.vendor();
  g << key("model") << c.model();
  g << key("serial_number") << c.serial_number();
  g << key("sg_name") << c.sg_name();
  g << key("type") << c.type();
}
