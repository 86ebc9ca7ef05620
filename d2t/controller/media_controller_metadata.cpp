#include "d2t/controller/media_controller_metadata.h"

#include <cerrno>
#include <new>

#include <ace/Log_Msg.h>

namespace {

// A missing table is a programming error in the layer: it is logged with a
// stack trace where it is found and the other tables are still declared.
#define D2T_LOG_TABLE_NULL() \
  ACE_ERROR((LM_EMERGENCY, ACE_TEXT("Unexpected error in %N:%l, table is NULL:\n%?\n")))

void init_changer(database::sql::Table* table) {
  if (!table) {
    D2T_LOG_TABLE_NULL();
    return;
  }
  table->add_column("id", "integer_id", "primary;autoincrement");
  table->add_column("target_name", "varchar", "size=256;not_null");
  table->add_column("lun", "integer", "not_null");
  table->add_column("vendor", "varchar", "size=128");
  table->add_column("model", "varchar", "size=128");
  table->add_column("sg_name", "varchar", "size=64");
  table->add_column("type", "varchar", "size=32;not_null;default=''");
  table->add_column("serial_number", "varchar", "size=128;not_null");
}

void init_drive(database::sql::Table* table) {
  if (!table) {
    D2T_LOG_TABLE_NULL();
    return;
  }
  table->add_column("id", "integer_id", "primary;autoincrement");
  table->add_column("changer_id", "integer_id",
                    "not_null;foreigner=changer(id),update cascade,delete cascade");
  table->add_column("target_name", "varchar", "size=256;not_null");
  table->add_column("lun", "integer", "not_null");
  table->add_column("drive_number", "integer", "not_null");
  table->add_column("sg_name", "varchar", "size=64");
  table->add_column("dev_name", "varchar", "size=64");
  table->add_column("vendor", "varchar", "size=128");
  table->add_column("model", "varchar", "size=128");
  table->add_column("slot_number", "integer", nullptr);
  table->add_column("serial_number", "varchar", "size=128;not_null");
  table->add_column("failures", "integer", "not_null;default=0");
  // The host whose devices sg_name and dev_name are ('' on an inventory
  // that only one host has ever used: that host's own drives).
  table->add_column("host_id", "varchar", "size=64;not_null;default=''");
  table->add_unique("changer_id,drive_number");
}

void init_slot(database::sql::Table* table) {
  if (!table) {
    D2T_LOG_TABLE_NULL();
    return;
  }
  table->add_column("id", "integer_id", "primary;autoincrement");
  table->add_column("changer_id", "integer_id",
                    "not_null;foreigner=changer(id),update cascade,delete cascade");
  table->add_column("slot_number", "integer", "not_null");
  table->add_column("media_tag", "varchar", "size=256");
  table->add_column("is_porter", "bool", "not_null;default=0");
  // The element status said the slot holds a cartridge (with or without a
  // label); media_tag alone cannot tell an unlabelled cartridge from an
  // empty slot.
  table->add_column("occupied", "bool", "not_null;default=0");
  table->add_unique("changer_id,slot_number");
}

// Capacities the library scans gave the cartridges of each library, so
// that a rescan needs no cartridge moved to know them again.
void init_media_capacity(database::sql::Table* table) {
  if (!table) {
    D2T_LOG_TABLE_NULL();
    return;
  }
  table->add_column("id", "integer_id", "primary;autoincrement");
  table->add_column("changer_serial", "varchar", "size=128;not_null");
  table->add_column("media_tag", "varchar", "size=256;not_null");
  table->add_column("capacity", "bigint", "not_null");
  // True when the capacity was taken from the media type's nominal figure
  // rather than measured: the first measurement replaces it.
  table->add_column("guessed", "bool", "not_null;default=0");
  table->add_unique("changer_serial,media_tag");
}

}  // namespace

Media_Controller_Metadata::Media_Controller_Metadata() : Metadata("media_controller", 9, 0) {
  // The referenced table comes first so that it exists when the others are
  // created.
  init_changer(add_table("changer"));
  init_drive(add_table("drive"));
  init_slot(add_table("slot"));
  init_media_capacity(add_table("media_capacity"));
}

Media_Controller_Metadata::~Media_Controller_Metadata() {}

extern "C" {

database::sql::Metadata* _make_Media_Controller_Metadata(Media_Controller_Metadata_Gobbler* gobbler) {
  if (gobbler) *gobbler = _gobble_Media_Controller_Metadata;
  // The declaration itself allocates (tables, columns, names): a failure
  // there must not escape this C function either, so it is reported the
  // same way as a failed allocation of the object.
  try {
    Media_Controller_Metadata* metadata = new (std::nothrow) Media_Controller_Metadata();
    if (!metadata) errno = ENOMEM;
    return metadata;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

void _gobble_Media_Controller_Metadata(void* p) {
  delete static_cast<database::sql::Metadata*>(p);
}
}
