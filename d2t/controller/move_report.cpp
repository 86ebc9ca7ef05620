// Counting and explaining cartridge moves.
#include "d2t/controller/move_report.h"

#include <ace/Log_Msg.h>

#include <cstring>

#include "d2t/metrics/metrics.h"
#include "d2t/tools/diagnosis.h"
#include "d2t/util/log_text.h"

namespace {

const char* verb_of(const char* kind) {
  if (std::strcmp(kind, d2t::metrics::MOVE_LOAD) == 0 ||
      std::strcmp(kind, d2t::metrics::MOVE_SCAN_LOAD) == 0)
    return "load";
  if (std::strcmp(kind, d2t::metrics::MOVE_UNLOAD) == 0 ||
      std::strcmp(kind, d2t::metrics::MOVE_SCAN_UNLOAD) == 0)
    return "unload";
  return "move";
}

}  // namespace

std::string describe_failed_move(const Move_Attempt& a, const std::string& outcome) {
  const std::string verb = verb_of(a.kind);
  std::string line = "Failed to " + verb + " cartridge " +
                     (a.cartridge.empty() ? "(no label)" : d2t::log_text(a.cartridge));
  std::string drive;
  if (!a.drive.empty() || a.drive_element >= 0) {
    drive = "drive " + (a.drive.empty() ? std::string("?") : d2t::log_text(a.drive));
    if (a.drive_element >= 0) drive += " (element " + std::to_string(a.drive_element) + ")";
  }
  if (verb == "load") {
    if (a.slot > 0) line += " from slot " + std::to_string(a.slot);
    if (!drive.empty()) line += " into " + drive;
  } else if (verb == "unload") {
    if (!drive.empty()) line += " from " + drive;
    if (a.slot > 0) line += " to slot " + std::to_string(a.slot);
  } else {
    line += " from slot " + std::to_string(a.slot) + " to slot " + std::to_string(a.to_slot);
  }
  if (!a.changer.empty()) line += " of changer " + d2t::log_text(a.changer);
  if (!a.library.empty()) line += " (library " + d2t::log_text(a.library) + ")";
  if (std::strcmp(a.kind, d2t::metrics::MOVE_SCAN_LOAD) == 0 ||
      std::strcmp(a.kind, d2t::metrics::MOVE_SCAN_UNLOAD) == 0)
    line += " during a scan";
  return line + ": " + (outcome.empty() ? "no device outcome recorded" : outcome);
}

Move_Report::Move_Report(Move_Attempt attempt)
    : attempt_(std::move(attempt)), started_(std::chrono::steady_clock::now()) {
  d2t::tools::clear_failure();
}

bool Move_Report::finish(bool ok) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  d2t::metrics::record_move(attempt_.library, attempt_.kind, ok, seconds);
  if (!ok) {
    ACE_ERROR((LM_ERROR, ACE_TEXT("%C\n"),
               describe_failed_move(attempt_, d2t::tools::last_failure()).c_str()));
  }
  return ok;
}
