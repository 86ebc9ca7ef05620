// Reading the stored libraries for the read-only routes.
#include "d2t/controller/stored_inventory.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <map>
#include <set>

#include "d2t/tools/tools.h"
#include "d2t/util/drive.h"
#include "d2t/util/media.h"
#include "database/database.h"
#include "json_spirit/json_helpers.h"

using database::sql::Connection_var;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

namespace {

const database::sql::Val_Tran PORTER_AS_BOOL[] = {
    {"is_porter", 9, {database::sql::VTT_BOOL, 0}},
    {"occupied", 8, {database::sql::VTT_BOOL, 0}},
    {nullptr, 0, {database::sql::VTT_NONE, 0}},
};

bool read_rows(const Connection_var& connection, const Select_SQL& sql, bool porter, Array& rows) {
  Legacy_Cursor cursor(connection, sql, database::sql::GM_ORM_ROWS, 0);
  if (porter) cursor.val_trans(PORTER_AS_BOOL);
  Value v;
  if (!cursor.fetch(v)) return false;
  if (v.type() == json_spirit::null_type) return true;  // no rows
  if (v.type() != json_spirit::array_type) return false;
  rows = std::move(v.get_array());
  return true;
}

std::int64_t int_of(const Object& row, const char* key, std::int64_t otherwise) {
  std::int64_t v = otherwise;
  json_spirit::object_get(row, key, v);
  return v;
}

std::string text_of(const Object& row, const char* key) {
  return json_spirit::object_get_str_or_empty(row, key);
}

// Slot rows read per query: bounds the rows held at once as JSON.
const int SLOT_ROWS_PER_READ = 2000;

// The slot record of `row`; its occupancy goes into `occupied`.
d2t::Media_var media_of(const Object& row, std::set<int>& occupied) {
  d2t::Media_var m(new d2t::Media());
  m->slot_number(static_cast<ACE_INT32>(int_of(row, "slot_number", 0)));
  m->media_tag(text_of(row, "media_tag"));
  bool porter = false;
  json_spirit::object_get(row, "is_porter", porter);
  m->is_porter(porter);
  bool full = false;
  json_spirit::object_get(row, "occupied", full);
  if (full) occupied.insert(m->slot_number());
  if (m->media_tag().empty()) {
    m->state(d2t::MST_EMPTY);
  } else {
    m->state(d2t::re::is_clean_media(m->media_tag()) ? d2t::MST_CLEAN : d2t::MST_UNKNOWN);
  }
  return m;
}

// Reads the slots of the changer `id` numbered `from` or more (at most
// `count` of them when it is positive) in slot-number order, a bounded
// number of rows per query.
bool read_slots(const Connection_var& connection, std::int64_t id, int from, int count,
                std::vector<d2t::Media_var>& slots, std::set<int>& occupied) {
  int after = from - 1;
  while (count <= 0 || static_cast<int>(slots.size()) < count) {
    const int want = count <= 0
                         ? SLOT_ROWS_PER_READ
                         : std::min(SLOT_ROWS_PER_READ, count - static_cast<int>(slots.size()));
    Select_SQL sql("slot", nullptr);
    sql.where("changer_id=:changer_id", false).where("slot_number>:after", true);
    sql.bind(":changer_id", id).bind(":after", after);
    sql.order_by("slot_number").limit(want);
    Array rows;
    if (!read_rows(connection, sql, true, rows)) return false;
    for (const Value& v : rows) {
      if (v.type() != json_spirit::obj_type) continue;
      slots.push_back(media_of(v.get_obj(), occupied));
      after = std::max(after, static_cast<int>(slots.back()->slot_number()));
    }
    if (static_cast<int>(rows.size()) < want) break;
  }
  return true;
}

bool count_slots(const Connection_var& connection, std::int64_t id, std::int64_t& count) {
  Select_SQL sql("slot", nullptr);
  sql.add_key("count(*)", "n").where("changer_id=:changer_id", false).bind(":changer_id", id);
  Array rows;
  if (!read_rows(connection, sql, false, rows) || rows.size() != 1 ||
      rows[0].type() != json_spirit::obj_type)
    return false;
  count = int_of(rows[0].get_obj(), "n", 0);
  return true;
}

// The tag stored in the slot `home` of the changer `id`: taken from
// `slots` when the slot is among them, read otherwise (a ranged read).
std::string home_tag(const Connection_var& connection, std::int64_t id,
                     const std::vector<d2t::Media_var>& slots, int home) {
  auto it = std::lower_bound(slots.begin(), slots.end(), home, [](const d2t::Media_var& m, int n) {
    return static_cast<int>(m->slot_number()) < n;
  });
  if (it != slots.end() && static_cast<int>((*it)->slot_number()) == home)
    return (*it)->media_tag();
  std::vector<d2t::Media_var> one;
  std::set<int> ignored;
  if (!read_slots(connection, id, home, 1, one, ignored) || one.empty() ||
      static_cast<int>(one[0]->slot_number()) != home)
    return std::string();
  return one[0]->media_tag();
}

// Reads the drives and slots (those of `range` when not null) of the
// changer `id` into `library`.
bool read_library(const Connection_var& connection, std::int64_t id, int faulty_threshold,
                  const Slot_Range* range, Stored_Library& library) {
  std::vector<d2t::Media_var>& slots = library.changer->medias();
  if (!read_slots(connection, id, range ? range->from : 1, range ? range->count : 0, slots,
                  library.occupied))
    return false;
  if (range && !count_slots(connection, id, library.slot_count)) return false;

  Select_SQL drives_sql("drive", nullptr);
  drives_sql.where("changer_id=:changer_id", false);
  drives_sql.bind(":changer_id", id);
  Array drive_rows;
  if (!read_rows(connection, drives_sql, false, drive_rows)) return false;

  struct Drive_Row {
    d2t::Drive_var drive;
    int failures;
    std::string host_id;
  };
  std::map<std::int64_t, Drive_Row> drives;
  for (const Value& v : drive_rows) {
    if (v.type() != json_spirit::obj_type) continue;
    const Object& row = v.get_obj();
    d2t::Drive_var d(new d2t::Drive());
    d->load_from_json(v);
    const int failures = static_cast<int>(int_of(row, "failures", 0));
    const int home = static_cast<int>(int_of(row, "slot_number", 0));
    d->slot_number(home > 0 ? home : 0);
    d->media_tag(std::string());
    if (home > 0) d->media_tag(home_tag(connection, id, slots, home));
    d->faulty(faulty_threshold > 0 && failures >= faulty_threshold);
    drives[int_of(row, "drive_number", 0)] = Drive_Row{d, failures, text_of(row, "host_id")};
  }

  for (auto& d : drives) {
    library.changer->drives().push_back(d.second.drive);
    library.failures.push_back(d.second.failures);
    library.host_ids.push_back(d.second.host_id);
  }
  return true;
}

}  // namespace

bool read_stored_inventory(const std::string* serial_number, int faulty_threshold,
                           std::vector<Stored_Library>& out, const Slot_Range* range) {
  out.clear();
  Connection_var connection =
      database::sql::Legacy_Manager::instance()->get_connection_r("media_controller");
  if (!connection) {
    ACE_ERROR(
        (LM_ERROR, ACE_TEXT("Failed to connect to database '%C' at %N:%l\n"), "media_controller"));
    return false;
  }
  Select_SQL changers_sql("changer", nullptr);
  if (serial_number != nullptr) {
    changers_sql.where("serial_number=:serial_number", false);
    changers_sql.bind(":serial_number", *serial_number);
  }
  Array changer_rows;
  bool ok = read_rows(connection, changers_sql, false, changer_rows);

  std::multimap<std::string, Stored_Library> sorted;
  for (const Value& v : changer_rows) {
    if (!ok) break;
    if (v.type() != json_spirit::obj_type) continue;
    Stored_Library library;
    library.changer = d2t::Changer_var(new d2t::Changer());
    library.changer->load_from_json(v);
    ok = read_library(connection, int_of(v.get_obj(), "id", -1), faulty_threshold, range, library);
    sorted.emplace(library.changer->serial_number(), std::move(library));
  }
  if (!ok) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to read the stored inventory\n")));
    return false;
  }
  for (auto& l : sorted) out.push_back(std::move(l.second));
  return true;
}

bool home_of_loaded(const Stored_Library& library, int slot_number) {
  if (library.changer.null() || slot_number <= 0) return false;
  const auto& drives = library.changer->drives();
  return std::any_of(drives.begin(), drives.end(), [&](const d2t::Drive_var& d) {
    return d.get() != nullptr && d->slot_number() == slot_number;
  });
}

const char* slot_contents_name(Slot_Contents contents) {
  switch (contents) {
    case Slot_Contents::EMPTY:
      return "empty";
    case Slot_Contents::FULL:
      return "full";
    case Slot_Contents::IN_DRIVE:
      return "in_drive";
    case Slot_Contents::UNLABELLED:
      return "unlabelled";
    case Slot_Contents::CLEANING:
      return "cleaning";
    case Slot_Contents::PORTER:
      return "porter";
  }
  return "empty";
}

Slot_Contents slot_contents(const Stored_Library& library, const d2t::Media& slot) {
  if (slot.is_porter()) return Slot_Contents::PORTER;
  if (home_of_loaded(library, slot.slot_number())) return Slot_Contents::IN_DRIVE;
  if (slot.media_tag().empty()) {
    return library.occupied.count(slot.slot_number()) != 0 ? Slot_Contents::UNLABELLED
                                                           : Slot_Contents::EMPTY;
  }
  return slot.state() == d2t::MST_CLEAN ? Slot_Contents::CLEANING : Slot_Contents::FULL;
}
