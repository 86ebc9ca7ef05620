// Stream operators that write one tape library, one drive or one slot as a
// JSON object into a YAJL generator.
//
// Each writes exactly one complete object for a handle that is not null;
// callers skip null handles (a null handle writes nothing). The records are
// only read: no lock is taken and nothing is changed. Write failures are
// remembered by the generator (YAJL_Gen::rc()); check once at the end.
//
// Slot object keys, in order:
//   "slot_number", "state", "is_porter"                      always
//   "media_tag"                                              not empty slot
//   "capacity", "used"                  a cartridge that is not cleaning or
//                                       unknown
//   "label", "media_pool_uuid"          as "capacity", and only when not ""
// Drive object keys, in order, all always written:
//   "drive_number", "vendor", "model", "serial_number", "lun",
//   "target_name", "dev_name", "sg_name", "faulty"
// Library object keys, in order:
//   "target_name", "lun", "vendor", "model", "serial_number", "sg_name",
//   "type", "drives" (the non-null drives), "slots" (the non-null slots)
#ifndef WEBSVCS_CONTROLLER_TAPECTL_TAPE_GENERATOR_HELPER_H
#define WEBSVCS_CONTROLLER_TAPECTL_TAPE_GENERATOR_HELPER_H

#include "d2t/util/changer.h"
#include "d2t/util/drive.h"
#include "d2t/util/media.h"
#include "websvcs/framework/yajl_gen.h"

YAJL_Gen& operator<<(YAJL_Gen& g, const d2t::Media_var& media);
YAJL_Gen& operator<<(YAJL_Gen& g, const d2t::Drive_var& drive);
YAJL_Gen& operator<<(YAJL_Gen& g, const d2t::Changer_var& changer);

// The keys and values of a slot object, in the order above, into a map the
// caller opened (for replies that add keys after them).
void write_media_keys(YAJL_Gen& g, const d2t::Media& m);
// The keys and values of a drive object, likewise.
void write_drive_keys(YAJL_Gen& g, const d2t::Drive& d);
// The library object's keys before "drives", likewise.
void write_changer_keys(YAJL_Gen& g, const d2t::Changer& c);

#endif
