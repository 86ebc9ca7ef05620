#include "d2t/controller/controller_sql.h"

#include <algorithm>
#include <limits>

#include "database/database.h"

using namespace database::sql;

Controller_Sql::Controller_Sql()
    : connection_(Legacy_Manager::instance()->get_connection_r("media_controller")) {}

bool Controller_Sql::delete_drive(std::int64_t id) {
  if (!connected()) return false;
  Delete_SQL del("drive");
  del.where("id=:id");
  del.bind(":id", static_cast<long long>(id));
  return connection_->execute(del);
}

bool Controller_Sql::changer_ids(std::vector<std::int64_t>& ids) {
  if (!connected()) return false;
  Select_SQL select("changer", nullptr);
  select.select("id");
  Legacy_Cursor cursor(connection_, select, GM_ROWS, 0);
  if (!cursor.ok()) return false;
  long long id = 0;
  while (cursor >> id) ids.push_back(id);
  return true;
}

bool Controller_Sql::changers(std::vector<std::pair<std::int64_t, std::string>>& rows) {
  if (!connected()) return false;
  Select_SQL select("changer", nullptr);
  select.select("id").select("serial_number");
  Result_Set result;
  if (!connection_->query(select, result) || result.columns.size() != 2) return false;
  for (const std::vector<json_spirit::Value>& r : result.rows) {
    if (r.size() != 2 || r[0].type() != json_spirit::int_type ||
        r[1].type() != json_spirit::str_type)
      continue;
    rows.emplace_back(r[0].get_int64(), r[1].get_str());
  }
  return true;
}

bool Controller_Sql::changer_serial(const std::string& sg_name, std::string& serial) {
  if (!connected()) return false;
  Select_SQL select("changer", nullptr);
  select.select("serial_number").where("sg_name=:sg_name", false);
  select.bind(":sg_name", sg_name);
  Legacy_Cursor cursor(connection_, select, GM_FIRST_VAL, 0);
  std::string found;
  if (!(cursor >> found)) return false;
  serial = found;
  return true;
}

bool Controller_Sql::count_drives(std::int64_t changer_id, std::int64_t& count) {
  if (!connected()) return false;
  Select_SQL select("drive", nullptr);
  select.add_key("count(*)", "count").where("changer_id=:changer_id", false);
  select.bind(":changer_id", static_cast<long long>(changer_id));
  Legacy_Cursor cursor(connection_, select, GM_FIRST_VAL, 0);
  long long n = 0;
  if (!(cursor >> n)) return false;
  count = n;
  return true;
}

bool Controller_Sql::slot_rows(std::int64_t changer_id, std::vector<Slot_Row>& rows) {
  if (!connected()) return false;
  // Read SLOT_ROWS_PER_QUERY rows at a time in slot-number order, so the
  // generic result rows never hold a whole library of 50,000 slots.
  const int SLOT_ROWS_PER_QUERY = 4096;
  rows.clear();
  // The first bound must fit the column's own type (PostgreSQL refuses an
  // integer parameter outside int4 for an integer column).
  long long after = std::numeric_limits<std::int32_t>::min();
  for (;;) {
    Select_SQL select("slot", nullptr);
    select.select("slot_number").select("media_tag").select("is_porter").select("occupied");
    select.where("changer_id=:changer_id", false).where("slot_number>:after", true);
    select.bind(":changer_id", static_cast<long long>(changer_id)).bind(":after", after);
    select.order_by("slot_number").limit(SLOT_ROWS_PER_QUERY);
    Result_Set result;
    if (!connection_->query(select, result) || result.columns.size() != 4) return false;
    const long long before = after;
    for (std::vector<json_spirit::Value>& r : result.rows) {
      if (r.size() != 4) continue;
      if (r[0].type() == json_spirit::int_type)
        after = std::max(after, static_cast<long long>(r[0].get_int64()));
      Slot_Row row;
      if (slot_row_from_values(r[0], r[1], r[2], r[3], row)) rows.push_back(std::move(row));
    }
    if (result.rows.size() < static_cast<std::size_t>(SLOT_ROWS_PER_QUERY)) return true;
    if (after == before) return false;  // no slot number to go on from
  }
}

bool Controller_Sql::delete_changer(std::int64_t id) {
  if (!connected()) return false;
  Delete_SQL del("changer");
  del.where("id=:id");
  del.bind(":id", static_cast<long long>(id));
  return connection_->execute(del);
}

namespace {

// The id of the first row of `table` with this serial number (and, when
// `host_id` is not null, of that host), 0 when none.
bool row_id(Connection& connection, const char* table, const std::string& serial,
            const std::string* host_id, std::int64_t& id) {
  Select_SQL select(table, nullptr);
  select.select("id").where("serial_number=:serial_number", false);
  select.bind(":serial_number", serial);
  if (host_id != nullptr) {
    select.where("host_id=:host_id", true);
    select.bind(":host_id", *host_id);
  }
  Result_Set result;
  if (!connection.query(select, result)) return false;
  id = 0;
  if (!result.rows.empty() && !result.rows[0].empty() &&
      result.rows[0][0].type() == json_spirit::int_type)
    id = result.rows[0][0].get_int64();
  return true;
}

}  // namespace

bool Controller_Sql::store_device_names(const std::string& host_id,
                                        std::vector<Device_Name>& changers,
                                        std::vector<Device_Name>& drives) {
  if (!connected()) return false;
  database::Transaction transaction(connection_);
  if (!transaction.begin(false)) return false;
  // Leaving before the commit rolls everything back.
  Update_SQL clear_changers("changer");
  clear_changers.set("sg_name", Binding_Value(), nullptr);
  Update_SQL clear_drives("drive");
  clear_drives.set("sg_name", Binding_Value(), nullptr).set("dev_name", Binding_Value(), nullptr);
  clear_drives.where("host_id=:host_id").bind(":host_id", host_id);
  if (!connection_->execute(clear_changers) || !connection_->execute(clear_drives)) return false;

  for (Device_Name& d : drives) {
    if (!row_id(*connection_, "drive", d.serial_number, &host_id, d.id)) return false;
    if (d.id == 0) continue;
    Update_SQL set("drive");
    set.set("sg_name", d.sg_name, nullptr).set("dev_name", d.dev_name, nullptr).where("id=:id");
    set.bind(":id", static_cast<long long>(d.id));
    if (!connection_->execute(set)) return false;
  }
  for (Device_Name& c : changers) {
    if (!row_id(*connection_, "changer", c.serial_number, nullptr, c.id)) return false;
    if (c.id == 0) continue;
    Update_SQL set("changer");
    set.set("sg_name", c.sg_name, nullptr).where("id=:id");
    set.bind(":id", static_cast<long long>(c.id));
    if (!connection_->execute(set)) return false;
  }
  return transaction.commit();
}

bool Controller_Sql::find_cartridge(std::int64_t changer_id, const std::string& media_tag,
                                    std::int32_t& slot, std::string& drive_serial,
                                    std::string& drive_host) {
  if (!connected()) return false;
  Select_SQL slots("slot", nullptr);
  slots.select("slot_number").where("changer_id=:changer_id", false);
  slots.where("media_tag=:media_tag", true);
  slots.bind(":changer_id", static_cast<long long>(changer_id));
  slots.bind(":media_tag", media_tag);
  Result_Set result;
  if (!connection_->query(slots, result) || result.rows.empty() || result.rows[0].empty() ||
      result.rows[0][0].type() != json_spirit::int_type)
    return false;
  const std::int64_t home = result.rows[0][0].get_int64();

  Select_SQL drives("drive", nullptr);
  drives.select("serial_number").select("host_id").where("changer_id=:changer_id", false);
  drives.where("slot_number=:slot_number", true);
  drives.bind(":changer_id", static_cast<long long>(changer_id));
  drives.bind(":slot_number", static_cast<long long>(home));
  Result_Set holders;
  if (!connection_->query(drives, holders)) return false;
  drive_serial.clear();
  drive_host.clear();
  if (!holders.rows.empty() && holders.rows[0].size() == 2 &&
      holders.rows[0][0].type() == json_spirit::str_type) {
    drive_serial = holders.rows[0][0].get_str();
    if (holders.rows[0][1].type() == json_spirit::str_type)
      drive_host = holders.rows[0][1].get_str();
  }
  slot = static_cast<std::int32_t>(home);
  return true;
}

bool Controller_Sql::clear_for_scan(std::int64_t changer_id, const json_spirit::Object& changer_row,
                                    const std::string& host_id,
                                    std::vector<std::pair<std::int32_t, std::string>>& kept_homes) {
  if (!connected()) return false;
  kept_homes.clear();
  database::Transaction transaction(connection_);
  if (!transaction.begin(false)) return false;
  // Leaving before the commit rolls everything back.
  Select_SQL homes("drive", "d");
  homes.add_key("s.slot_number", "slot_number").add_key("s.media_tag", "media_tag");
  homes.join("slot", "s", "s.changer_id=d.changer_id AND s.slot_number=d.slot_number");
  homes.where("d.changer_id=:changer_id AND d.host_id<>:host_id AND s.media_tag IS NOT NULL");
  homes.bind(":changer_id", static_cast<long long>(changer_id)).bind(":host_id", host_id);
  Result_Set held;
  if (!connection_->query(homes, held)) return false;
  for (const std::vector<json_spirit::Value>& r : held.rows) {
    if (r.size() == 2 && r[0].type() == json_spirit::int_type &&
        r[1].type() == json_spirit::str_type)
      kept_homes.emplace_back(static_cast<std::int32_t>(r[0].get_int64()), r[1].get_str());
  }

  Update_SQL changer("changer");
  for (const char* column : {"target_name", "lun", "vendor", "model", "sg_name", "type"}) {
    auto v = changer_row.find(column);
    if (v != changer_row.end()) changer.set(column, Binding_Value(v->second), nullptr);
  }
  changer.where("id=:id").bind(":id", static_cast<long long>(changer_id));
  Delete_SQL slots("slot");
  slots.where("changer_id=:changer_id").bind(":changer_id", static_cast<long long>(changer_id));
  Delete_SQL drives("drive");
  drives.where("changer_id=:changer_id AND host_id=:host_id");
  drives.bind(":changer_id", static_cast<long long>(changer_id)).bind(":host_id", host_id);
  if (!connection_->execute(changer) || !connection_->execute(slots) ||
      !connection_->execute(drives))
    return false;
  return transaction.commit();
}

bool Controller_Sql::delete_element_drive(std::int64_t changer_id, std::int32_t drive_number) {
  if (!connected()) return false;
  Delete_SQL del("drive");
  del.where("changer_id=:changer_id AND drive_number=:drive_number");
  del.bind(":changer_id", static_cast<long long>(changer_id));
  del.bind(":drive_number", static_cast<long long>(drive_number));
  return connection_->execute(del);
}

bool Controller_Sql::set_element_slot(std::int64_t changer_id, std::int32_t drive_number,
                                      const json_spirit::Value& slot) {
  if (!connected()) return false;
  Update_SQL set("drive");
  set.set("slot_number", Binding_Value(slot), nullptr);
  set.where("changer_id=:changer_id AND drive_number=:drive_number");
  set.bind(":changer_id", static_cast<long long>(changer_id));
  set.bind(":drive_number", static_cast<long long>(drive_number));
  return connection_->execute(set);
}
