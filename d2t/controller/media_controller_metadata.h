// Schema of the "media_controller" database: the inventory of tape libraries
// (table changer), their drives (table drive) and their storage slots with
// the cartridge each holds (table slot).
//
// The SQL layer creates or upgrades the tables from this declaration before
// it hands out the first connection to "media_controller". It finds the
// declaration either through Legacy_Manager::register_metadata() or by
// binding the exported factory _make_Media_Controller_Metadata by name.
//
// Drive and slot rows belong to their changer: deleting a changer row
// deletes them, and a changer id change carries over to them. A changer has
// at most one drive per drive number and one slot per slot number.
#ifndef D2T_CONTROLLER_MEDIA_CONTROLLER_METADATA_H
#define D2T_CONTROLLER_MEDIA_CONTROLLER_METADATA_H

#include "database/metadata.h"

class Media_Controller_Metadata : public database::sql::Metadata {
 public:
  // Declares database "media_controller", schema version 7, flags 0, with
  // the tables changer, drive and slot in that order.
  Media_Controller_Metadata();
  virtual ~Media_Controller_Metadata();
};

extern "C" {

typedef void (*Media_Controller_Metadata_Gobbler)(void*);

// Factory bound by name at run time. Stores the destroyer
// _gobble_Media_Controller_Metadata through `gobbler` when it is not null
// and returns a new Media_Controller_Metadata owned by the caller; null
// with errno ENOMEM when it cannot be allocated.
database::sql::Metadata* _make_Media_Controller_Metadata(Media_Controller_Metadata_Gobbler* gobbler);

// Deletes an object made by the factory; null is ignored.
void _gobble_Media_Controller_Metadata(void* p);
}

#endif
