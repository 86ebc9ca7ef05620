// The few statements the controller issues on the inventory directly,
// outside Tape_Controller_Impl (internal): moving a drive row between
// libraries, removing libraries left without drives, and the compact read
// of a library's slot rows that a refresh of tens of thousands of slots
// needs (an object per row would cost several hundred bytes each).
#ifndef D2T_CONTROLLER_CONTROLLER_SQL_H
#define D2T_CONTROLLER_CONTROLLER_SQL_H

#include <cstdint>
#include <vector>

#include "d2t/controller/slot_row_index.h"
#include "database/connection.h"

class Controller_Sql {
 public:
  // Takes a connection to "media_controller"; see connected().
  Controller_Sql();

  bool connected() const { return connection_.get() != nullptr; }

  // DELETE FROM drive WHERE id=:id. Result of the execution.
  bool delete_drive(std::int64_t id);
  // Ids of every changer row; false when they cannot be read.
  bool changer_ids(std::vector<std::int64_t>& ids);
  // Number of drive rows of the changer; false when it cannot be read.
  bool count_drives(std::int64_t changer_id, std::int64_t& count);
  // DELETE FROM changer WHERE id=:id (its slots go with it).
  bool delete_changer(std::int64_t id);
  // The slot rows of the changer, in the order the database delivers them
  // (rows whose slot number is not an integer are left out: nothing can
  // match them). False when they cannot be read.
  bool slot_rows(std::int64_t changer_id, std::vector<Slot_Row>& rows);

 private:
  database::sql::Connection_var connection_;
};

#endif
