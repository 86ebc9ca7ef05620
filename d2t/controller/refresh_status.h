// What a refresh reports: the library's own keys (d2t::Changer::to_json)
// plus "drives" and "slots" as the changer reported them. One place decides
// the shape, whether the reply is built whole or written piece by piece.
//
//   drive objects: "drive_number", "slot_number" (the home slot of the
//                  cartridge it holds, 0 when empty), "media_tag"
//   slot objects:  "slot_number", "state" (d2t::media_state_to_name),
//                  "media_tag", "is_porter"
// Null drives and slots are left out.
#ifndef D2T_CONTROLLER_REFRESH_STATUS_H
#define D2T_CONTROLLER_REFRESH_STATUS_H

#include <string>

#include "d2t/util/changer.h"
#include "json_spirit/json_spirit_value.h"

// Appends the drive objects of `changer` to `drives`.
void add_refresh_drives(const d2t::Changer& changer, json_spirit::Array& drives);
// Fills `o` (empty) with the object of one slot.
void write_refresh_slot(const d2t::Media& slot, json_spirit::Object& o);
// The JSON text of one slot's object, exactly as json_spirit::write writes
// the object of write_refresh_slot (built directly when its tag needs no
// escaping, through that object otherwise).
std::string refresh_slot_text(const d2t::Media& slot);
// The whole report of `changer` into `result` (replacing its contents).
void write_refresh_status(const d2t::Changer& changer, json_spirit::Object& result);

#endif
