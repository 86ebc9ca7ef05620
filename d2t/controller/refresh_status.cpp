// The refresh report's objects.
#include "d2t/controller/refresh_status.h"

#include "d2t/util/drive.h"
#include "d2t/util/media.h"
#include "json_spirit/json_helpers.h"

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

void add_refresh_drives(const d2t::Changer& changer, Array& drives) {
  for (const d2t::Drive_var& d : changer.drives()) {
    if (d.null()) continue;
    Object& o = json_spirit::append_new_object(drives);
    json_spirit::insert(o)("drive_number", Value(d->drive_number()))(
        "slot_number", Value(d->slot_number()))("media_tag", Value(d->media_tag()));
  }
}

void write_refresh_slot(const d2t::Media& m, Object& o) {
  json_spirit::insert(o)("slot_number", Value(m.slot_number()))(
      "state", Value(d2t::media_state_to_name(m.state())))("media_tag", Value(m.media_tag()))(
      "is_porter", Value(m.is_porter()));
}

void write_refresh_status(const d2t::Changer& changer, Object& result) {
  Object out;
  changer.to_json(out);
  add_refresh_drives(changer, json_spirit::to_new_array(out["drives"]));
  Array& slots = json_spirit::to_new_array(out["slots"]);
  slots.reserve(changer.medias().size());
  for (const d2t::Media_var& m : changer.medias()) {
    if (!m.null()) write_refresh_slot(*m, json_spirit::append_new_object(slots));
  }
  result.swap(out);
}
