// The few statements the controller issues on the inventory directly,
// outside Tape_Controller_Impl (internal): moving a drive row between
// libraries, removing libraries left without drives, the compact read
// of a library's slot rows that a refresh of tens of thousands of slots
// needs (an object per row would cost several hundred bytes each), the
// device names stored in one transaction, and where a cartridge is.
#ifndef D2T_CONTROLLER_CONTROLLER_SQL_H
#define D2T_CONTROLLER_CONTROLLER_SQL_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "d2t/controller/slot_row_index.h"
#include "database/connection.h"
#include "json_spirit/json_spirit_value.h"

class Controller_Sql {
 public:
  // Takes a connection to "media_controller"; see connected().
  Controller_Sql();

  bool connected() const { return connection_.get() != nullptr; }

  // DELETE FROM drive WHERE id=:id. Result of the execution.
  bool delete_drive(std::int64_t id);
  // Ids of every changer row; false when they cannot be read.
  bool changer_ids(std::vector<std::int64_t>& ids);
  // Id and serial number of every changer row (appended).
  bool changers(std::vector<std::pair<std::int64_t, std::string>>& rows);
  // Serial number of the changer whose stored device is `sg_name`.
  bool changer_serial(const std::string& sg_name, std::string& serial);
  // Number of drive rows of the changer; false when it cannot be read.
  bool count_drives(std::int64_t changer_id, std::int64_t& count);
  // DELETE FROM changer WHERE id=:id (its slots go with it).
  bool delete_changer(std::int64_t id);
  // The slot rows of the changer, in the order the database delivers them
  // (rows whose slot number is not an integer are left out: nothing can
  // match them). False when they cannot be read.
  bool slot_rows(std::int64_t changer_id, std::vector<Slot_Row>& rows);

  // A device's serial number and its names now; `id` receives the row id
  // of the stored device with that serial number (0 when none).
  struct Device_Name {
    std::string serial_number, sg_name, dev_name;
    std::int64_t id = 0;
  };
  // In one write transaction: clears every stored changer name and the
  // names of host `host_id`'s drives, then stores the names of the given
  // changers (sg_name) and drives (sg_name, dev_name) on the rows with
  // their serial numbers (drives: only rows of `host_id`; another host's
  // names are its own). All or nothing: false (nothing changed) when any
  // statement fails.
  bool store_device_names(const std::string& host_id, std::vector<Device_Name>& changers,
                          std::vector<Device_Name>& drives);

  // Where cartridge `media_tag` of changer `changer_id` is: its slot row's
  // number (the home slot, which keeps the tag while the cartridge is in a
  // drive), the serial number of the drive whose row records that slot
  // ("" when none) and that drive's host id. False when the changer has no
  // slot row with that tag.
  bool find_cartridge(std::int64_t changer_id, const std::string& media_tag, std::int32_t& slot,
                      std::string& drive_serial, std::string& drive_host);

  // Prepares the stored library `changer_id` to receive host `host_id`'s
  // scan, in one write transaction: the changer row takes the columns of
  // `changer_row` (its id stays, as other hosts' drive rows refer to it),
  // its slot rows and `host_id`'s drive rows are deleted, and
  // `kept_homes` receives, for each drive row of another host that holds
  // a cartridge, its home slot and that slot's tag (the scan leaves those
  // drives loaded, so their cartridges' homes keep their tags). False,
  // nothing changed, on failure.
  bool clear_for_scan(std::int64_t changer_id, const json_spirit::Object& changer_row,
                      const std::string& host_id,
                      std::vector<std::pair<std::int32_t, std::string>>& kept_homes);
  // Deletes the drive row of element `drive_number` of changer
  // `changer_id`, whoever's it is (the element's drive is now known to be
  // another). True also when there is none.
  bool delete_element_drive(std::int64_t changer_id, std::int32_t drive_number);
  // Sets the stored slot of the drive of element `drive_number` of changer
  // `changer_id`, whichever host it belongs to (null: empty). Result of
  // the update; true also when no row has that element.
  bool set_element_slot(std::int64_t changer_id, std::int32_t drive_number,
                        const json_spirit::Value& slot);

 private:
  database::sql::Connection_var connection_;
};

#endif
