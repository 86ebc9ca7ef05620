// Library scan: empty the drives, read the element status, find which host
// tape device is which drive element by loading cartridges, measure and
// classify the cartridges, and time the moves to tell physical libraries
// from virtual ones. Only the in-memory records change here.
#include <algorithm>
#include <deque>
#include <map>

#include "d2t/controller/controller_log.h"
#include "d2t/controller/drive_identification.h"
#include "d2t/controller/drive_identity.h"
#include "d2t/controller/move_report.h"
#include "d2t/controller/tape_controller.h"
#include "d2t/metrics/metrics.h"
#include "d2t/tools/tools.h"
#include "d2t/util/log_text.h"
#include "json_spirit/json_helpers.h"

bool Tape_Controller::scan_tapelib(d2t::Changer& changer, std::vector<d2t::Drive_var>& drives) {
  if (!d2t::tools::unload_all(changer.sg_name(), load_unload_retries_)) {
    // clang-format off
    ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to unload all drives before rescan, unload all drive manually and retry rescan.\n")));
    // clang-format on
    return false;
  }
  if (!d2t::tools::changer_status(changer)) return false;
  {
    // Identification by watching drives become ready: one scan at a time.
    std::lock_guard<std::mutex> detecting(detection_lock_);
    if (!detect_drives(changer, drives)) return false;
  }
  return scan_all_media(changer);
}

bool Tape_Controller::detect_drives(d2t::Changer& changer, std::vector<d2t::Drive_var>& drives) {
  ACE_DEBUG((LM_DEBUG, ACE_TEXT("SCAN_PROGRESS_REPORT:start detect drives of tape library %s\n"),
             d2t::log_text(changer.sg_name()).c_str()));

  // Drives that the changer's identifiers or their own VPD pages place
  // need no cartridge; loading finds the others.
  const d2t::identify::Identified known = d2t::identify::identify_drives(changer, drives);

  // The candidates: host drives that nothing places elsewhere (no element
  // of this library, no identifier of another library, no stored row of
  // another library). Those behind the changer's own SCSI target are the
  // likeliest and are tried first.
  const ACE_INT64 own_id = get_changer_id(changer.serial_number());
  auto stored_elsewhere = [&](const d2t::Drive_var& drive) {
    json_spirit::Object row;
    std::int64_t changer_id = 0;
    return impl_->get_drive(drive->serial_number(), row) &&
           json_spirit::object_get(row, "changer_id", changer_id) && changer_id != own_id;
  };
  std::deque<d2t::Drive_var> candidates;
  for (const d2t::Drive_var& drive : drives) {
    if (drive.null() || known.took(drive) || known.is_foreign(drive) || stored_elsewhere(drive))
      continue;
    if (drive->target_name() == changer.target_name()) {
      candidates.push_front(drive);
    } else {
      candidates.push_back(drive);
    }
  }
  std::vector<d2t::Drive_var>& elements = changer.drives();
  // An element the identifiers show to be no drive of this host is another
  // host's only when no host drive is left that loading could find.
  std::vector<bool> elsewhere(elements.size(), false);
  bool loading = false;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    elsewhere[i] = known.is_elsewhere(i) && candidates.empty();
    if (elsewhere[i])
      ACE_DEBUG((LM_INFO, ACE_TEXT("Drive element %d of %C is not attached to this host\n"),
                 static_cast<int>(i), d2t::log_text(changer.serial_number()).c_str()));
    loading = loading || (!elements[i].null() && !known.placed(i) && !elsewhere[i]);
  }
  // While elements are identified by loading, no other load, unload or
  // type detection runs on a candidate, in any library; then the drives
  // already holding a cartridge are no candidates.
  Drive_Reservations::Hold reservation;
  if (loading) {
    std::vector<std::string> serials;
    for (const d2t::Drive_var& c : candidates) serials.push_back(c->serial_number());
    reservation = drive_reservations_.reserve(serials);
  }
  for (d2t::Drive_var& c : candidates)
    if (!loading || d2t::tools::drive_ready(c->sg_name(), 0)) c.reset();
  auto candidates_left = [&] {
    return std::any_of(candidates.begin(), candidates.end(),
                       [](const d2t::Drive_var& c) { return !c.null(); });
  };

  const int polls =
      std::max(max_wait_seconds_ / static_cast<int>(d2t::LOAD_UNLOAD_RETRY_INTERVAL), 1);
  const int unload_retries = load_unload_retries_ * faulty_threshold_;
  ACE_UINT64 total_ms = 0;
  ACE_UINT64 cycles = 0;

  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (elsewhere[i]) {
      elements[i].reset();  // another host's drive: left out, as an unidentified one
      continue;
    }
    if (elements[i].null() || known.placed(i)) continue;
    d2t::Drive_var d = elements[i];
    ACE_DEBUG((LM_DEBUG, ACE_TEXT("SCAN_PROGRESS_REPORT:start detect drive %d (total: %d) of %s\n"),
               static_cast<int>(d->drive_number()), static_cast<int>(elements.size()),
               d2t::log_text(changer.sg_name()).c_str()));

    bool found = false;
    int mount_failures = 0;
    int unanswered = 0;  // cartridges loaded in a row that no candidate reported
    for (const d2t::Media_var& mv : changer.medias()) {
      if (mv.null()) continue;
      // No drive of this host can be the element: stop loading it.
      if (!candidates_left() || unanswered >= faulty_threshold_) break;
      d2t::Media& m = *mv;
      if ((m.state() != d2t::MST_FULL && m.state() != d2t::MST_BLANK) || m.media_tag().empty()) {
        continue;
      }

      bool count_failure = false;
      const ACE_UINT64 load_start = clock_->now_ms();
      Move_Report load_report({d2t::metrics::MOVE_SCAN_LOAD, changer.serial_number(),
                               changer.sg_name(), static_cast<int>(d->drive_number()),
                               std::string(), m.slot_number(), 0, m.media_tag()});
      if (!load_report.finish(d2t::tools::mount(changer.sg_name(), d->drive_number(),
                                                m.slot_number(), m.media_tag(),
                                                load_unload_retries_, count_failure))) {
        if (++mount_failures >= faulty_threshold_) break;
        continue;
      }
      const ACE_UINT64 load_ms = clock_->now_ms() - load_start;

      // Watch the candidates until one of them holds the cartridge.
      d2t::Drive_var cleaning_drive;
      for (int poll = 0; poll < polls; ++poll) {
        for (d2t::Drive_var& candidate : candidates) {
          if (candidate.null()) continue;
          if (m.state() == d2t::MST_FULL && d2t::tools::cleaning_tape(candidate->sg_name())) {
            m.state(d2t::MST_CLEAN);
            mount_failures = 0;
            cleaning_drive = candidate;
            break;
          }
          if (d2t::tools::drive_ready(candidate->sg_name(), 0)) {
            // A drive whose cartridge memory names another cartridge holds
            // someone else's tape: neither the element nor a candidate.
            std::string barcode;
            if (!m.media_tag().empty() &&
                d2t::tools::cartridge_barcode(candidate->sg_name(), barcode) &&
                barcode != m.media_tag()) {
              ACE_ERROR((LM_WARNING,
                         ACE_TEXT("Drive %C became ready with cartridge %C while %C was loaded "
                                  "into drive element %d of %C; not taken for it\n"),
                         d2t::log_text(candidate->serial_number()).c_str(),
                         d2t::log_text(barcode).c_str(), d2t::log_text(m.media_tag()).c_str(),
                         static_cast<int>(d->drive_number()),
                         d2t::log_text(changer.serial_number()).c_str()));
              candidate.reset();
              continue;
            }
            candidate->drive_number(d->drive_number());
            elements[i] = candidate;
            d = candidate;
            candidate.reset();
            found = true;
            break;
          }
        }
        if (found || !cleaning_drive.null()) break;
        if (poll + 1 < polls)
          clock_->sleep_seconds(static_cast<unsigned>(d2t::LOAD_UNLOAD_RETRY_INTERVAL));
      }

      unanswered = found || !cleaning_drive.null() ? 0 : unanswered + 1;
      if (found && m.capacity() == 0) {
        ACE_UINT64 capacity = 0;
        if (d2t::tools::get_media_capacity(d->sg_name(), m.media_tag(), capacity)) {
          m.capacity(capacity);
          m.state(d2t::MST_BLANK);
        }
      }

      // Eject through the device that holds the cartridge: the identified
      // drive, or the candidate that reported the cleaning cartridge.
      const std::string& eject_device =
          cleaning_drive.null() ? d->dev_name() : cleaning_drive->dev_name();
      const ACE_UINT64 unload_start = clock_->now_ms();
      Move_Report unload_report({d2t::metrics::MOVE_SCAN_UNLOAD, changer.serial_number(),
                                 changer.sg_name(), static_cast<int>(d->drive_number()),
                                 found ? d->serial_number() : std::string(), m.slot_number(), 0,
                                 m.media_tag()});
      if (unload_report.finish(d2t::tools::unmount(changer.sg_name(), eject_device,
                                                   d->drive_number(), m.slot_number(),
                                                   m.media_tag(), unload_retries, count_failure))) {
        total_ms += load_ms + (clock_->now_ms() - unload_start);
        ++cycles;
      } else {
        d->faulty(true);
        // The cartridge is still in the drive: record it there, so that
        // the stored drive names its home slot.
        d->slot_number(m.slot_number());
        d->media_tag(m.media_tag());
        ACE_ERROR((LM_ERROR,
                   ACE_TEXT("Failed to unmount, sg_name=%C, dev_name=%C, drive_number=%d\n"),
                   d2t::log_text(changer.sg_name()).c_str(), d2t::log_text(d->dev_name()).c_str(),
                   static_cast<int>(d->drive_number())));
      }
      if (found || d->faulty()) break;
    }

    if (!found) {
      ACE_ERROR((LM_ERROR, ACE_TEXT("Failed to detect %d of %s\n"),
                 static_cast<int>(d->drive_number()), d2t::log_text(changer.sg_name()).c_str()));
      elements[i].reset();
    }
  }

  if (cycles != 0) changer.type(d2t::library_type_for_cycle_ms(total_ms / cycles));
  // Capacities or the type still unknown: one cycle on one drive.
  d2t::identify::complete_measures(
      changer, impl_.get(),
      {*clock_, load_unload_retries(), max_wait_seconds(), faulty_threshold()});
  return true;
}

bool Tape_Controller::scan_all_media(d2t::Changer& changer) {
  // Unmeasured cartridges take a capacity recorded for them, else one of
  // their media type (measured, recorded or native), else the first one
  // measured; what they are given is recorded for the next rescan.
  std::map<std::string, std::uint64_t> known;
  std::set<std::string> guessed;
  d2t::identify::recorded_capacities(changer.serial_number(), known, guessed);
  d2t::identify::assign_capacities(changer.medias(), known, guessed);
  d2t::identify::record_capacities(changer, guessed);
  return true;
}
