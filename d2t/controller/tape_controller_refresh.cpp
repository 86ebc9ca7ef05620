// Slot refresh: bring one library's slot rows and its drives' stored slots
// in line with the changer's element status.
#include <algorithm>
#include <exception>
#include <set>
#include <unordered_map>

#include "d2t/controller/controller_log.h"
#include "d2t/controller/controller_sql.h"
#include "d2t/controller/refresh_status.h"
#include "d2t/controller/robot_lease.h"
#include "d2t/controller/slot_row_index.h"
#include "d2t/controller/tape_controller.h"
#include "d2t/tools/diagnosis.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"
#include "json_spirit/json_helpers.h"

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

namespace {

// What a refresh leaves for the identical requests that joined it.
struct Refresh_Answer : Shared_Result {
  explicit Refresh_Answer(const d2t::Changer& c) : changer(c) {}
  d2t::Changer changer;
};

}  // namespace

bool Tape_Controller::refresh(const std::string& serial_number, Object& result,
                              Queue_Request* queue) {
  d2t::Changer changer;
  if (!refresh(serial_number, changer, queue)) return false;
  write_refresh_status(changer, result);
  return true;
}

bool Tape_Controller::refresh(const std::string& serial_number, d2t::Changer& refreshed,
                              Queue_Request* queue) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }
  Library_Operation operation;
  operation.kind = Library_Operation::REFRESH;
  Library_Turn turn;
  if (!enter_turn(turn, serial_number, operation, queue, true)) {
    // Turned away, failed, or answered by the identical refresh it joined
    // (which shares nothing when it failed).
    const std::shared_ptr<const Refresh_Answer> answer =
        std::dynamic_pointer_cast<const Refresh_Answer>(turn.ticket().result());
    if (!turn.ticket().joined() || turn.ticket().refusal() != Queue_Refusal::NONE || !answer)
      return false;
    refreshed = answer->changer;
    return true;
  }
  try {
    std::vector<d2t::Changer_var> changers;
    std::vector<d2t::Drive_var> drives;
    if (!d2t::tools::lsscsi(changers, drives)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to list tape devices\n")));
      D2T_LOG_LISTING_CAUSE();
      return false;
    }
    for (const std::string& why : d2t::tools::listing_left_out())
      ACE_ERROR((LM_WARNING, ACE_TEXT("Device left out of the listing: %C\n"), why.c_str()));
    auto listed = std::find_if(changers.begin(), changers.end(), [&](const d2t::Changer_var& c) {
      return match_changer(c, serial_number);
    });
    if (listed == changers.end()) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to find changer(serial_number: %s).\n"),
                 d2t::log_text(serial_number).c_str()));
      return false;
    }
    Object row;
    if (!impl_->get_changer(serial_number, row)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("No mediumx with serial_number '%s'.\n"),
                 d2t::log_text(serial_number).c_str()));
      return false;
    }

    d2t::Changer changer;
    changer.load_from_json(Value(row));
    if ((*listed)->sg_name() != changer.sg_name()) {
      update_device_name(changers, drives);
      changer.sg_name((*listed)->sg_name());
    }
    // No move lands between the status read and the writes it causes: the
    // refresh runs alone on its library.
    if (!d2t::tools::changer_status(changer)) {
      ACE_ERROR((LM_ERROR,
                 ACE_TEXT("Failed to get status of device: '%s' with serial_number: '%s'.\n"),
                 d2t::log_text(changer.sg_name()).c_str(), d2t::log_text(serial_number).c_str()));
      return false;
    }
    std::int64_t id = -1;
    if (!json_spirit::object_get(row, "id", id) || !update_slots(id, changer)) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to refresh slots.\n")));
      return false;
    }
    if (changer.type().empty() && detect_changer_type(id, changer)) {
      impl_->set_changer_type(id, changer.type());
    }

    turn.share(std::make_shared<Refresh_Answer>(changer));
    refreshed = std::move(changer);
    return true;
  } catch (const std::exception& e) {
    // An exception must not escape into the web server's request thread.
    ACE_ERROR((LM_ERROR, ACE_TEXT("Exception catch on Tape_Controller::refresh: %C\n"), e.what()));
    return false;
  }
}

bool Tape_Controller::update_slots(ACE_INT64 changer_id, d2t::Changer& changer) {
  if (!impl_) {
    D2T_LOG_IMPL_NULL();
    return false;
  }

  std::unordered_map<ACE_INT32, const std::string*> out_in_drive;
  std::set<int> stored_elements;  // whose drive row now says what they hold
  // The rows in compact form, indexed once: matching each reported slot
  // costs constant time, so a refresh is linear in the number of slots.
  std::vector<Slot_Row> rows;
  {
    Controller_Sql sql;
    if (!sql.connected()) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to connect to database '%C' at %N:%l\n"),
                 "media_controller"));
      return false;
    }
    // Drives: store the slot whose cartridge each drive holds (null when
    // empty), and remember those home slots. By element, so the drives of
    // every host sharing the library are corrected, whatever their
    // device names.
    for (const d2t::Drive_var& d : changer.drives()) {
      if (d.null()) continue;
      const bool loaded = d->slot_number() > 0 && !d->media_tag().empty();
      const bool full = !d->media_tag().empty() || d->slot_number() >= 1;
      if (loaded) out_in_drive.emplace(d->slot_number(), &d->media_tag());
      if (sql.set_element_slot(changer_id, static_cast<std::int32_t>(d->drive_number()),
                               loaded ? Value(d->slot_number()) : Value()) &&
          (loaded || !full))
        stored_elements.insert(static_cast<int>(d->drive_number()));
    }
    if (!sql.slot_rows(changer_id, rows)) return false;
  }
  // Those drives' rows are right again, whatever an earlier failed write
  // left in them.
  clear_suspects(changer_id, stored_elements);
  const Slot_Row_Index index(rows);

  for (const d2t::Media_var& m : changer.medias()) {
    if (m.null()) continue;
    // A slot whose cartridge sits in a drive is reported empty, but it is
    // still that cartridge's home: unload names the cartridge by the home
    // slot's tag, so the tag stays.
    const d2t::Media* report = m.get();
    d2t::Media home;
    if (m->media_tag().empty()) {
      auto out = out_in_drive.find(m->slot_number());
      if (out != out_in_drive.end()) {
        home = *m;
        home.media_tag(*out->second);
        report = &home;
      }
    }

    const Slot_Row* row = index.find(report->slot_number());
    if (row == nullptr) {
      impl_->add_slot(changer_id, *report);
      continue;
    }
    bool stale =
        row->has_tag ? row->media_tag != report->media_tag() : !report->media_tag().empty();
    if (!stale && row->is_porter >= 0) stale = (row->is_porter == 1) != report->is_porter();
    if (!stale && row->occupied >= 0) stale = (row->occupied == 1) != slot_occupied(*report);
    if (stale) impl_->update_slot(changer_id, *report);
  }
  return true;
}
