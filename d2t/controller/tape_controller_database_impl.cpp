#include "d2t/controller/tape_controller_database_impl.h"

#include <ace/Log_Msg.h>

#include <cerrno>
#include <exception>
#include <utility>

#include "d2t/controller/slot_row_index.h"
#include "d2t/util/media.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

using database::sql::Binding_Value;
using database::sql::Connection_var;
using database::sql::Delete_SQL;
using database::sql::Insert_SQL;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using database::sql::Update_SQL;
using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

namespace {

const char* const DATABASE_NAME = "media_controller";

// Slot reads hand is_porter and occupied back as JSON booleans whatever the
// engine stores for them.
const database::sql::Val_Tran PORTER_AS_BOOL[] = {
    {"is_porter", 9, {database::sql::VTT_BOOL, 0}},
    {"occupied", 8, {database::sql::VTT_BOOL, 0}},
    {nullptr, 0, {database::sql::VTT_NONE, 0}},
};

// Logs at `line` of this file with the errno of the moment, as ACE_ERROR
// does, for helpers that report on behalf of the operation that called them.
ACE_Log_Msg* log_at(int line) {
  ACE_Log_Msg* log = ACE_LOG_MSG;
  log->conditional_set(__FILE__, line, -1, errno);
  return log;
}

// A connection to the inventory, or an empty handle after logging why not.
Connection_var connect(int line) {
  Connection_var connection =
      database::sql::Legacy_Manager::instance()->get_connection_r(DATABASE_NAME);
  if (!connection) {
    log_at(line)->log(LM_ERROR, ACE_TEXT("Failed to connect to database '%s' at %N:%l\n"),
                      DATABASE_NAME);
  }
  return connection;
}

// Insert pattern: the new row's id, or -1 after logging `failure` (a text
// without directives).
ACE_INT64 run_insert(const Insert_SQL& sql, const ACE_TCHAR* failure, int line) {
  Connection_var connection = connect(line);
  if (!connection) return -1;
  if (!connection->execute(sql)) {
    log_at(line)->log(LM_ERROR, ACE_TEXT("%s"), failure);
    return -1;
  }
  return connection->last_insert_id();
}

// Single-row read pattern: `result` is replaced by the first row only when
// one is read as an object.
bool read_row(const Select_SQL& sql, bool porter_as_bool, Object& result, int line) {
  Connection_var connection = connect(line);
  if (!connection) return false;
  Legacy_Cursor cursor(connection, sql, database::sql::GM_ORM_FIRST_ROW, 0);
  if (porter_as_bool) cursor.val_trans(PORTER_AS_BOOL);
  if (cursor.eof()) return false;
  Value row;
  if (!cursor.fetch(row) || row.type() != json_spirit::obj_type) return false;
  result = row.get_obj();
  return true;
}

// Update pattern: the result of the execution, not logged.
bool run_update(const database::sql::SQL& sql, int line) {
  Connection_var connection = connect(line);
  if (!connection) return false;
  return connection->execute(sql);
}

// An empty media tag means the slot holds no cartridge: stored as NULL.
Binding_Value tag_or_null(const std::string& media_tag) {
  if (media_tag.empty()) return Binding_Value();
  return Binding_Value(media_tag);
}

}  // namespace

bool Tape_Controller_Database_Impl::open() {
  Connection_var connection = connect(__LINE__);
  if (!connection) return false;
  if (!host_id_.empty()) {
    // One statement, so two hosts starting at once cannot both claim them.
    Update_SQL claim("drive");
    claim.set("host_id", host_id_, nullptr)
        .where(
            "host_id='' AND NOT EXISTS (SELECT 1 FROM drive WHERE host_id<>'' AND "
            "host_id<>:me)");
    claim.bind(":me", host_id_);
    if (!connection->execute(claim)) {
      ACE_ERROR(
          (LM_WARNING, ACE_TEXT("Failed to record this host on the inventory's drive rows\n")));
    }
  }
  return true;
}

void Tape_Controller_Database_Impl::close() {}

bool Tape_Controller_Database_Impl::reset() {
  Update_SQL changers("changer");
  changers.set("sg_name", Binding_Value(), nullptr);
  Update_SQL drives("drive");
  drives.set("sg_name", Binding_Value(), nullptr).set("dev_name", Binding_Value(), nullptr);
  drives.where("host_id=:host_id").bind(":host_id", host_id_);

  Connection_var connection = connect(__LINE__);
  if (!connection) return false;
  database::Transaction transaction(connection);
  if (!transaction.begin(false)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to begin transaction at %N:%l\n")));
    return false;
  }
  // Leaving without commit rolls both updates back.
  if (!connection->execute(changers)) return false;
  if (!connection->execute(drives)) return false;
  return transaction.commit();
}

bool Tape_Controller_Database_Impl::clear(const std::string& serial_number) {
  // The drive and slot rows of the changer go with it (cascading keys).
  Delete_SQL sql("changer");
  sql.where("serial_number=:serial_number");
  sql.bind(":serial_number", serial_number);
  return run_update(sql, __LINE__);
}

bool Tape_Controller_Database_Impl::get_tape_device(const std::string& serial_number,
                                                    Object& device) {
  Select_SQL sql("changer", "c");
  sql.add_key("d.id", "drive_id")
      .add_key("d.dev_name", "dev_name")
      .add_key("d.slot_number", "slot_number")
      .add_key("d.drive_number", "drive_number")
      .add_key("c.sg_name", "sg_name")
      .add_key("c.serial_number", "changer_serial_number")
      .add_key("d.changer_id", "changer_id")
      .add_key("d.failures", "failures")
      .add_key("d.host_id", "host_id")
      .join("drive", "d", "d.changer_id=c.id")
      .where("d.serial_number=:serial_number", false);
  sql.bind(":serial_number", serial_number);
  return read_row(sql, false, device, __LINE__);
}

ACE_INT64 Tape_Controller_Database_Impl::add_changer(const Object& data) {
  Insert_SQL sql("changer");
  sql.value(data, "target_name", nullptr)
      .value(data, "lun", nullptr)
      .value(data, "vendor", nullptr)
      .value(data, "model", nullptr)
      .value(data, "sg_name", nullptr)
      .value(data, "type", nullptr)
      .value(data, "serial_number", nullptr);
  return run_insert(sql, ACE_TEXT("Failed to add changer\n"), __LINE__);
}

bool Tape_Controller_Database_Impl::get_changer(const std::string& serial_number, Object& result) {
  Select_SQL sql("changer", nullptr);
  sql.where("serial_number=:serial_number", false);
  sql.bind(":serial_number", serial_number);
  return read_row(sql, false, result, __LINE__);
}

bool Tape_Controller_Database_Impl::set_changer_name(ACE_INT64 id, const std::string& sg_name) {
  Update_SQL sql("changer");
  sql.set("sg_name", sg_name, nullptr).where("id=:id");
  sql.bind(":id", id);
  return run_update(sql, __LINE__);
}

const std::string Tape_Controller_Database_Impl::get_changer_type(ACE_INT64 id) {
  Select_SQL sql("changer", nullptr);
  sql.select("type").where("id=:id", false);
  sql.bind(":id", id);

  Connection_var connection =
      database::sql::Legacy_Manager::instance()->get_connection_r(DATABASE_NAME);
  if (!connection) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to connect to database '%s'\n"), DATABASE_NAME));
    return std::string();
  }
  Legacy_Cursor cursor(connection, sql, database::sql::GM_FIRST_VAL, 0);
  std::string type;
  cursor >> type;
  if (!cursor) return std::string();
  return type;
}

bool Tape_Controller_Database_Impl::set_changer_type(ACE_INT64 id, const std::string& type) {
  Update_SQL sql("changer");
  sql.set("type", type, nullptr).where("id=:id");
  sql.bind(":id", id);
  return run_update(sql, __LINE__);
}

ACE_INT64 Tape_Controller_Database_Impl::add_drive(const Object& data) {
  Insert_SQL sql("drive");
  sql.value(data, "changer_id", nullptr)
      .value(data, "target_name", nullptr)
      .value(data, "lun", nullptr)
      .value(data, "drive_number", nullptr)
      .value(data, "sg_name", nullptr)
      .value(data, "dev_name", nullptr)
      .value(data, "vendor", nullptr)
      .value(data, "model", nullptr)
      .value(data, "slot_number", nullptr)
      .value(data, "serial_number", nullptr)
      .value(data, "failures", nullptr);
  if (data.count("host_id") != 0) {
    sql.value(data, "host_id", nullptr);
  } else {
    sql.value("host_id", Binding_Value(host_id_));
  }
  return run_insert(sql, ACE_TEXT("Failed to add drive\n"), __LINE__);
}

bool Tape_Controller_Database_Impl::get_drive(const std::string& serial_number, Object& result) {
  Select_SQL sql("drive", nullptr);
  sql.where("serial_number=:serial_number", false);
  sql.bind(":serial_number", serial_number);
  return read_row(sql, false, result, __LINE__);
}

bool Tape_Controller_Database_Impl::get_drive(ACE_INT64 changer_id, ACE_INT32 drive_number,
                                              Object& result) {
  Select_SQL sql("drive", nullptr);
  sql.where("changer_id=:changer_id AND drive_number=:drive_number", false);
  sql.bind(":changer_id", changer_id);
  sql.bind(":drive_number", drive_number);
  return read_row(sql, false, result, __LINE__);
}

bool Tape_Controller_Database_Impl::set_drive_slot(const std::string& dev_name, const Value& data) {
  Update_SQL sql("drive");
  sql.set("slot_number", Binding_Value(data), nullptr)
      .where("dev_name=:dev_name AND host_id=:host_id");
  sql.bind(":dev_name", dev_name);
  sql.bind(":host_id", host_id_);
  return run_update(sql, __LINE__);
}

bool Tape_Controller_Database_Impl::set_drive_slot(const std::string& serial_number,
                                                   ACE_INT64 slot_number) {
  // Slot numbers start at 1; anything below means no cartridge is loaded.
  Binding_Value slot = slot_number > 0 ? Binding_Value(slot_number) : Binding_Value();
  Update_SQL sql("drive");
  sql.set("slot_number", slot, nullptr).where("serial_number=:serial_number");
  sql.bind(":serial_number", serial_number);

  // The home slot the drive's row names (the new one on a load, the old one
  // on an unload) holds the cartridge exactly when the drive does not.
  Update_SQL home("slot");
  home.set("occupied", slot_number <= 0, nullptr)
      .where(
          "changer_id=(SELECT changer_id FROM drive WHERE serial_number=:serial_number) AND "
          "slot_number=(SELECT slot_number FROM drive WHERE serial_number=:serial_number)");
  home.bind(":serial_number", serial_number);

  Connection_var connection = connect(__LINE__);
  if (!connection) return false;
  database::Transaction transaction(connection);
  if (!transaction.begin(false)) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to begin transaction at %N:%l\n")));
    return false;
  }
  // Leaving without commit rolls both back. Unloading: the old home first,
  // while the drive row still names it; loading: after the row names it.
  if (slot_number <= 0 && !connection->execute(home)) return false;
  if (!connection->execute(sql)) return false;
  if (slot_number > 0 && !connection->execute(home)) return false;
  return transaction.commit();
}

bool Tape_Controller_Database_Impl::set_drive_name(ACE_INT64 id, const std::string& sg_name,
                                                   const std::string& dev_name) {
  Update_SQL sql("drive");
  sql.set("sg_name", sg_name, nullptr).set("dev_name", dev_name, nullptr).where("id=:id");
  sql.bind(":id", id);
  return run_update(sql, __LINE__);
}

ACE_INT64 Tape_Controller_Database_Impl::add_slot(const Object& data) {
  Insert_SQL sql("slot");
  sql.value(data, "changer_id", nullptr)
      .value(data, "slot_number", nullptr)
      .value(data, "media_tag", nullptr)
      .value(data, "is_porter", nullptr)
      .value(data, "occupied", nullptr);
  return run_insert(sql, ACE_TEXT("Failed to add slot\n"), __LINE__);
}

ACE_INT64 Tape_Controller_Database_Impl::add_slot(ACE_INT64 changer_id, const d2t::Media& m) {
  Object data;
  json_spirit::insert(data)("changer_id", changer_id)("slot_number", m.slot_number())(
      "media_tag", m.media_tag().empty() ? Value::null : Value(m.media_tag()))(
      "is_porter", m.is_porter())("occupied", slot_occupied(m));
  return Tape_Controller_Database_Impl::add_slot(data);
}

bool Tape_Controller_Database_Impl::get_slots(ACE_INT64 changer_id, Array& result) {
  Select_SQL sql("slot", nullptr);
  sql.where("changer_id=:changer_id", false);
  sql.bind(":changer_id", changer_id);

  Connection_var connection = connect(__LINE__);
  if (!connection) return false;
  Legacy_Cursor cursor(connection, sql, database::sql::GM_ORM_ROWS, 0);
  cursor.val_trans(PORTER_AS_BOOL);
  Value rows;
  if (!cursor.fetch(rows) || rows.type() != json_spirit::array_type) return false;
  result = std::move(rows.get_array());  // a large library: no copy
  return true;
}

bool Tape_Controller_Database_Impl::get_slot(const std::string& media_tag, Object& result) {
  Select_SQL sql("slot", nullptr);
  sql.where("media_tag=:media_tag", false);
  sql.bind(":media_tag", media_tag);
  return read_row(sql, true, result, __LINE__);
}

bool Tape_Controller_Database_Impl::get_slot(ACE_INT64 changer_id, ACE_INT32 slot_number,
                                             Object& result) {
  Select_SQL sql("slot", nullptr);
  sql.where("changer_id=:changer_id AND slot_number=:slot_number", false);
  sql.bind(":changer_id", changer_id);
  sql.bind(":slot_number", slot_number);
  return read_row(sql, true, result, __LINE__);
}

bool Tape_Controller_Database_Impl::get_slot(const std::string& changer_serial, ACE_INT32 slot,
                                             Object& result) {
  // Unqualified serial_number is the changer's (slot has none), slot_number
  // the slot's (changer has none).
  Select_SQL sql("slot", "s");
  sql.add_key("s.id", "media_id")
      .add_key("c.sg_name", "sg_name")
      .add_key("s.media_tag", "media_tag")
      .add_key("s.slot_number", "slot_number")
      .add_key("s.is_porter", "is_porter")
      .add_key("s.occupied", "occupied")
      .join("changer", "c", "s.changer_id=c.id")
      .where("serial_number=:serial_number AND slot_number=:slot", false);
  sql.bind(":serial_number", changer_serial);
  sql.bind(":slot", slot);
  return read_row(sql, true, result, __LINE__);
}

bool Tape_Controller_Database_Impl::slot_empty(ACE_INT64 changer_id, ACE_INT32 slot_number) {
  Select_SQL sql("slot", nullptr);
  sql.where("changer_id=:changer_id AND slot_number=:slot_number AND media_tag IS NULL;", false);
  sql.bind(":changer_id", changer_id);
  sql.bind(":slot_number", slot_number);

  Connection_var connection = connect(__LINE__);
  if (!connection) return false;
  Legacy_Cursor cursor(connection, sql, database::sql::GM_ORM_FIRST_ROW, 0);
  Value row;
  return cursor.fetch(row) && row.type() == json_spirit::obj_type;
}

ACE_INT32 Tape_Controller_Database_Impl::get_empty_slot(ACE_INT64 changer_id) {
  Select_SQL sql("slot", nullptr);
  sql.select("slot_number").where("changer_id=:changer_id AND media_tag IS NULL;", false);
  sql.bind(":changer_id", changer_id);

  Connection_var connection = connect(__LINE__);
  if (!connection) return -1;
  Legacy_Cursor cursor(connection, sql, database::sql::GM_FIRST_VAL, 0);
  int slot_number = -1;
  cursor >> slot_number;
  if (!cursor) return -1;
  return slot_number;
}

bool Tape_Controller_Database_Impl::set_media_tag(ACE_INT64 changer_id, ACE_INT32 slot_number,
                                                  const std::string& media_tag) {
  // Always text: an empty tag stays an empty string here.
  Update_SQL sql("slot");
  sql.set("media_tag", media_tag, nullptr)
      .where("changer_id=:changer_id AND slot_number=:slot_number");
  sql.bind(":changer_id", changer_id);
  sql.bind(":slot_number", slot_number);
  return run_update(sql, __LINE__);
}

bool Tape_Controller_Database_Impl::update_slot(ACE_INT64 changer_id, const d2t::Media& m) {
  Update_SQL sql("slot");
  sql.set("media_tag", tag_or_null(m.media_tag()), nullptr)
      .set("is_porter", m.is_porter(), nullptr)
      .set("occupied", slot_occupied(m), nullptr)
      .where("changer_id=:changer_id AND slot_number=:slot_number");
  sql.bind(":changer_id", changer_id);
  sql.bind(":slot_number", static_cast<ACE_INT64>(m.slot_number()));
  return run_update(sql, __LINE__);
}

bool Tape_Controller_Database_Impl::transfer(const Object& from, const Object& to) {
  try {
    // Every key is read before the database is reached, so a malformed
    // record changes nothing.
    Update_SQL from_sql("slot");
    from_sql.set("media_tag", Binding_Value(), nullptr)
        .set("occupied", false, nullptr)
        .where("id=:media_id");
    from_sql.bind(":media_id", json_spirit::object_get_int64_or_throw(from, "media_id"));

    Update_SQL to_sql("slot");
    to_sql.set("media_tag", json_spirit::object_get_str_or_throw(from, "media_tag"), nullptr)
        .set("occupied", true, nullptr)
        .where("id=:media_id");
    to_sql.bind(":media_id", json_spirit::object_get_int64_or_throw(to, "media_id"));

    Connection_var connection = connect(__LINE__);
    if (!connection) return false;
    database::Transaction transaction(connection);
    if (!transaction.begin(false)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to begin transaction at %N:%l\n")));
      return false;
    }
    // Each update must hit its row: a row replaced since it was read (a
    // rescan gives slots new ids) would otherwise leave the cartridge
    // recorded in its old slot, or in no slot, while the move is reported
    // as recorded. Leaving without commit rolls everything back.
    if (!connection->execute(from_sql) || connection->affected_rows() != 1) return false;
    if (!connection->execute(to_sql) || connection->affected_rows() != 1) return false;
    return transaction.commit();
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Transfer object exception: %s.\n"), e.what()));
    return false;
  }
}

bool Tape_Controller_Database_Impl::update_drive_failure(const std::string& dev_name, int val) {
  Update_SQL sql("drive");
  sql.set("failures", static_cast<ACE_INT32>(val), nullptr)
      .where("dev_name=:dev_name AND host_id=:host_id");
  sql.bind(":dev_name", dev_name);
  sql.bind(":host_id", host_id_);
  return run_update(sql, __LINE__);
}
