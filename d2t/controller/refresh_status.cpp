// The refresh report's objects.
#include "d2t/controller/refresh_status.h"

#include "d2t/util/drive.h"
#include "d2t/util/media.h"
#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"

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

namespace {

// Text json_spirit writes as it is between quotes: printable ASCII other
// than the quote and the backslash.
bool written_as_is(const std::string& s) {
  for (const char c : s) {
    if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') return false;
  }
  return true;
}

}  // namespace

std::string refresh_slot_text(const d2t::Media& m) {
  const char* state = d2t::media_state_to_name(m.state());
  if (!written_as_is(m.media_tag()) || !written_as_is(state)) {
    Object o;
    write_refresh_slot(m, o);
    return json_spirit::write(o);
  }
  // The keys in the order the writer gives them (sorted).
  std::string t;
  t.reserve(80 + m.media_tag().size());
  t += m.is_porter() ? "{\"is_porter\":true" : "{\"is_porter\":false";
  t += ",\"media_tag\":\"";
  t += m.media_tag();
  t += "\",\"slot_number\":";
  t += std::to_string(m.slot_number());
  t += ",\"state\":\"";
  t += state;
  t += "\"}";
  return t;
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
