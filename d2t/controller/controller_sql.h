// The few statements the controller issues on the inventory directly,
// outside Tape_Controller_Impl (internal): moving a drive row between
// libraries and removing libraries left without drives.
#ifndef D2T_CONTROLLER_CONTROLLER_SQL_H
#define D2T_CONTROLLER_CONTROLLER_SQL_H

#include <cstdint>
#include <vector>

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

 private:
  database::sql::Connection_var connection_;
};

#endif
