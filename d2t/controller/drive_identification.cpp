#include "d2t/controller/drive_identification.h"

#include <ace/Log_Msg.h>

#include <algorithm>

#include "d2t/controller/drive_identity.h"
#include "d2t/controller/move_report.h"
#include "d2t/metrics/metrics.h"
#include "d2t/tools/diagnosis.h"
#include "d2t/tools/identity.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"
#include "database/database.h"
#include "database/transaction.h"
#include "json_spirit/json_helpers.h"

namespace d2t {
namespace identify {

bool Identified::took(const d2t::Drive_var& d) const {
  return !d.null() && std::find(hosts.begin(), hosts.end(), d.get()) != hosts.end();
}

bool Identified::is_foreign(const d2t::Drive_var& d) const {
  return !d.null() && std::find(foreign.begin(), foreign.end(), d.get()) != foreign.end();
}

namespace {

std::string trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\0')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0')) --e;
  return s.substr(b, e - b);
}

// Host drives that identifiers place in another library than `library`.
void mark_foreign(const std::string& changer_sg, const std::string& library,
                  const std::vector<d2t::tools::Drive_Identity>& hosts,
                  const std::vector<d2t::Drive_var>& records, Identified& out) {
  std::vector<std::vector<d2t::tools::Element_Identity>> others;
  d2t::tools::other_changer_identities(changer_sg, others);
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    bool foreign = hosts[h].placed && !trimmed(hosts[h].automation_serial).empty() &&
                   trimmed(hosts[h].automation_serial) != trimmed(library);
    for (const auto& ids : others)
      for (const d2t::tools::Element_Identity& e : ids)
        foreign = foreign || d2t::scsi::drive_naming(std::string(), e, hosts[h]).names();
    if (foreign) out.foreign.push_back(records[h].get());
  }
}

}  // namespace

Identified identify_drives(d2t::Changer& changer, const std::vector<d2t::Drive_var>& drives) {
  Identified out;
  std::vector<d2t::Drive_var>& elements = changer.drives();
  out.element.assign(elements.size(), false);
  out.elsewhere.assign(elements.size(), false);
  std::vector<d2t::tools::Element_Identity> ids;
  if (!d2t::tools::changer_identities(changer.sg_name(), ids)) {
    ACE_ERROR((LM_WARNING,
               ACE_TEXT("Failed to read the drive identifiers of %C; its drives are found by "
                        "loading\n"),
               d2t::log_text(changer.sg_name()).c_str()));
    return out;
  }
  std::vector<d2t::tools::Drive_Identity> hosts;
  std::vector<d2t::Drive_var> host_records;
  // Whether every tape drive of the host answered: only then can the
  // identifiers show that an element has no drive here.
  bool every_host_read = d2t::tools::listing_left_out().empty();
  for (const d2t::Drive_var& d : drives) {
    if (d.null()) continue;
    d2t::tools::Drive_Identity id;
    if (!d2t::tools::drive_identity(d->sg_name(), id)) {
      every_host_read = false;
      continue;  // left to load-and-watch
    }
    hosts.push_back(std::move(id));
    host_records.push_back(d);
  }
  mark_foreign(changer.sg_name(), changer.serial_number(), hosts, host_records, out);

  const Drive_Match m = match_drives(changer.serial_number(), ids, hosts, every_host_read);
  for (const std::string& text : m.conflicts) {
    ACE_ERROR((LM_WARNING,
               ACE_TEXT("Drive identification of %C is ambiguous: %C; left to load-and-watch\n"),
               d2t::log_text(changer.serial_number()).c_str(), text.c_str()));
  }
  for (const std::string& text : m.disagreements) {
    ACE_ERROR((LM_WARNING,
               ACE_TEXT("Drive identification of %C: the evidence disagrees: %C; left to "
                        "load-and-watch\n"),
               d2t::log_text(changer.serial_number()).c_str(), text.c_str()));
  }
  std::size_t placed = 0;
  for (std::size_t e = 0; e < ids.size(); ++e) {
    if (m.elsewhere[e]) {
      for (std::size_t i = 0; i < elements.size(); ++i)
        if (!elements[i].null() && elements[i]->drive_number() == ids[e].drive_number)
          out.elsewhere[i] = true;
      continue;
    }
    if (m.host[e] < 0) continue;
    // The element's entry in the drive list: the one with its number.
    for (std::size_t i = 0; i < elements.size(); ++i) {
      if (elements[i].null() || elements[i]->drive_number() != ids[e].drive_number) continue;
      d2t::Drive_var host = host_records[static_cast<std::size_t>(m.host[e])];
      host->drive_number(ids[e].drive_number);
      elements[i] = host;
      out.element[i] = true;
      out.hosts.push_back(host.get());
      ++placed;
      break;
    }
  }
  ACE_DEBUG((LM_INFO,
             ACE_TEXT("Identified %d of %d drive elements of %C without moving a cartridge: %d by "
                      "element address, %d by serial number, %d by designator; %d left to "
                      "load-and-watch\n"),
             static_cast<int>(placed), static_cast<int>(elements.size()),
             d2t::log_text(changer.serial_number()).c_str(),
             static_cast<int>(m.count(Route::ELEMENT_ADDRESS)),
             static_cast<int>(m.count(Route::SERIAL)), static_cast<int>(m.count(Route::DESIGNATOR)),
             static_cast<int>(elements.size() - placed)));
  return out;
}

namespace {

bool data_cartridge(const d2t::Media_var& m) {
  return !m.null() && !m->media_tag().empty() && !d2t::re::is_clean_media(m->media_tag()) &&
         (m->state() == d2t::MST_FULL || m->state() == d2t::MST_BLANK);
}

std::string stored_type(Tape_Controller_Impl* impl, const std::string& serial) {
  json_spirit::Object row;
  if (!impl || !impl->get_changer(serial, row)) return std::string();
  return json_spirit::object_get_str_or_empty(row, "type");
}

}  // namespace

void complete_measures(d2t::Changer& changer, Tape_Controller_Impl* impl,
                       const Cycle_Settings& settings) {
  std::map<std::string, std::uint64_t> known;
  std::set<std::string> guessed;
  recorded_capacities(changer.serial_number(), known, guessed);
  std::map<std::string, bool> type_known;  // media types with a capacity
  for (const auto& k : known) type_known[media_type(k.first)] = true;
  d2t::Media_var missing, missing_new_type, any_data, a_guess;
  bool measured_now = false;
  for (const d2t::Media_var& m : changer.medias()) {
    if (!data_cartridge(m)) continue;
    if (any_data.null()) any_data = m;
    if (a_guess.null() && m->state() == d2t::MST_FULL && guessed.count(m->media_tag())) a_guess = m;
    if (m->state() == d2t::MST_BLANK && m->capacity() != 0) {
      type_known[media_type(m->media_tag())] = true;
      measured_now = true;
    }
  }
  for (const d2t::Media_var& m : changer.medias()) {
    if (!data_cartridge(m) || m->state() != d2t::MST_FULL) continue;
    auto k = known.find(m->media_tag());
    if (k != known.end() && k->second != 0) continue;
    if (missing.null()) missing = m;
    if (missing_new_type.null() && !type_known.count(media_type(m->media_tag())))
      missing_new_type = m;
  }
  const std::string stored = stored_type(impl, changer.serial_number());
  const bool type_missing = changer.type().empty() && stored.empty();
  // A cartridge of a media type nothing was measured for tells most; any
  // missing one is measured when nothing was measured in this scan (the
  // others then take its capacity); the type alone needs any cartridge.
  d2t::Media_var media = missing_new_type;
  if (media.null() && !measured_now) media = missing;
  if (media.null() && type_missing) media = a_guess.null() ? any_data : a_guess;

  // An identified drive that is empty and can be ejected through.
  d2t::Drive_var drive;
  for (const d2t::Drive_var& d : changer.drives()) {
    if (d.null() || d->faulty() || d->sg_name().empty() || d->dev_name().empty() ||
        d->slot_number() >= 1)
      continue;
    drive = d;
    break;
  }
  if (media.null() || drive.null()) {
    if (changer.type().empty()) changer.type(stored);
    return;
  }

  d2t::Media& m = *media;
  bool count_failure = false;
  const ACE_UINT64 load_start = settings.clock.now_ms();
  Move_Report load_report({d2t::metrics::MOVE_SCAN_LOAD, changer.serial_number(), changer.sg_name(),
                           static_cast<int>(drive->drive_number()), drive->serial_number(),
                           m.slot_number(), 0, m.media_tag()});
  if (!load_report.finish(d2t::tools::mount(changer.sg_name(), drive->drive_number(),
                                            m.slot_number(), m.media_tag(),
                                            settings.load_unload_retries, count_failure))) {
    if (changer.type().empty()) changer.type(stored);
    return;
  }
  const ACE_UINT64 load_ms = settings.clock.now_ms() - load_start;
  if (d2t::tools::drive_ready(drive->sg_name(), settings.max_wait_seconds)) {
    ACE_UINT64 capacity = 0;
    if (d2t::tools::cleaning_tape(drive->sg_name())) {
      m.state(d2t::MST_CLEAN);
    } else if (d2t::tools::get_media_capacity(drive->sg_name(), m.media_tag(), capacity)) {
      m.capacity(capacity);
      m.state(d2t::MST_BLANK);
    }
  }
  const ACE_UINT64 unload_start = settings.clock.now_ms();
  Move_Report unload_report({d2t::metrics::MOVE_SCAN_UNLOAD, changer.serial_number(),
                             changer.sg_name(), static_cast<int>(drive->drive_number()),
                             drive->serial_number(), m.slot_number(), 0, m.media_tag()});
  if (unload_report.finish(d2t::tools::unmount(
          changer.sg_name(), drive->dev_name(), drive->drive_number(), m.slot_number(),
          m.media_tag(), settings.load_unload_retries * settings.faulty_threshold,
          count_failure))) {
    const ACE_UINT64 ms = load_ms + (settings.clock.now_ms() - unload_start);
    changer.type(d2t::library_type_for_cycle_ms(ms));
  } else {
    drive->faulty(true);
    drive->slot_number(m.slot_number());
    drive->media_tag(m.media_tag());
    if (changer.type().empty()) changer.type(stored);
  }
}

bool recorded_capacities(const std::string& changer_serial,
                         std::map<std::string, std::uint64_t>& out,
                         std::set<std::string>& guessed) {
  out.clear();
  guessed.clear();
  database::sql::Connection_var c =
      database::sql::Legacy_Manager::instance()->get_connection_r("media_controller");
  if (!c) return false;
  database::sql::Select_SQL select("media_capacity", nullptr);
  select.select("media_tag")
      .select("capacity")
      .select("guessed")
      .where("changer_serial=:serial", false);
  select.bind(":serial", changer_serial);
  database::sql::Result_Set rows;
  if (!c->query(select, rows) || rows.columns.size() != 3) return false;
  for (const std::vector<json_spirit::Value>& r : rows.rows) {
    if (r.size() != 3 || r[0].type() != json_spirit::str_type ||
        r[1].type() != json_spirit::int_type || r[1].get_int64() <= 0)
      continue;
    out[r[0].get_str()] = static_cast<std::uint64_t>(r[1].get_int64());
    const bool guess = (r[2].type() == json_spirit::bool_type && r[2].get_bool()) ||
                       (r[2].type() == json_spirit::int_type && r[2].get_int64() != 0);
    if (guess) guessed.insert(r[0].get_str());
  }
  return true;
}

bool record_capacities(const d2t::Changer& changer, const std::set<std::string>& guessed) {
  database::sql::Connection_var c =
      database::sql::Legacy_Manager::instance()->get_connection_r("media_controller");
  if (!c) return false;
  database::Transaction transaction(c);
  bool ok = transaction.begin(false);
  database::sql::Delete_SQL del("media_capacity");
  del.where("changer_serial=:serial");
  del.bind(":serial", changer.serial_number());
  ok = ok && c->execute(del);
  for (const d2t::Media_var& m : changer.medias()) {
    if (!ok) break;
    if (m.null() || m->state() != d2t::MST_BLANK || m->capacity() == 0 || m->media_tag().empty() ||
        d2t::re::is_clean_media(m->media_tag()))
      continue;
    database::sql::Insert_SQL insert("media_capacity");
    insert.value("changer_serial", changer.serial_number())
        .value("media_tag", m->media_tag())
        .value("capacity", static_cast<long long>(m->capacity()))
        .value("guessed", guessed.count(m->media_tag()) != 0);
    ok = c->execute(insert);
  }
  ok = ok && transaction.commit();
  if (!ok) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to record the cartridge capacities of %C\n"),
               d2t::log_text(changer.serial_number()).c_str()));
  }
  return ok;
}

}  // namespace identify
}  // namespace d2t
