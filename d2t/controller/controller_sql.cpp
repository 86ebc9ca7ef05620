#include "d2t/controller/controller_sql.h"

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
  Select_SQL select("slot", nullptr);
  select.select("slot_number").select("media_tag").select("is_porter");
  select.where("changer_id=:changer_id", false);
  select.bind(":changer_id", static_cast<long long>(changer_id));
  Result_Set result;
  if (!connection_->query(select, result) || result.columns.size() != 3) return false;
  rows.clear();
  rows.reserve(result.rows.size());
  for (std::vector<json_spirit::Value>& r : result.rows) {
    Slot_Row row;
    if (r.size() == 3 && slot_row_from_values(r[0], r[1], r[2], row)) rows.push_back(std::move(row));
    std::vector<json_spirit::Value>().swap(r);  // give the memory back as we go
  }
  return true;
}

bool Controller_Sql::delete_changer(std::int64_t id) {
  if (!connected()) return false;
  Delete_SQL del("changer");
  del.where("id=:id");
  del.bind(":id", static_cast<long long>(id));
  return connection_->execute(del);
}
