// The controller's record of each cartridge move: counted in the metrics
// (d2t_moves_total, d2t_move_duration_seconds) and, when it failed, logged
// once at error priority with what was tried and the device's outcome in
// words (d2t::tools::last_failure() of the calling thread).
#ifndef D2T_CONTROLLER_MOVE_REPORT_H
#define D2T_CONTROLLER_MOVE_REPORT_H

#include <chrono>
#include <string>

// What one move tried; fields left at their defaults are left out of the
// log line.
struct Move_Attempt {
  const char* kind = "";   // a d2t::metrics::MOVE_* kind
  std::string library;     // changer serial number
  std::string changer;     // changer device (sg name)
  int drive_element = -1;  // drive number in the changer, -1 none
  std::string drive;       // drive serial number
  int slot = 0;            // slot of the cartridge (source for a transfer)
  int to_slot = 0;         // target slot of a transfer
  std::string cartridge;   // media tag
};

// Times one move from construction to finish().
class Move_Report {
 public:
  // Also forgets the thread's last device failure, so that the outcome
  // logged is this move's.
  explicit Move_Report(Move_Attempt attempt);
  // Counts the move as done (`ok`) or failed, and logs a failure. Returns
  // `ok`, so a call can wrap the device operation's result.
  bool finish(bool ok);

 private:
  Move_Attempt attempt_;
  std::chrono::steady_clock::time_point started_;
};

// The log line of a failed move, without the trailing newline, e.g.
// "Failed to load cartridge A00001L9 from slot 1 into drive EMU-DRV-0001
// (element 0) of changer /dev/sg10 (library EMU-LIB-0001): sense NOT READY,
// medium not present (02/3A/00)". Names and tags are escaped (log_text).
std::string describe_failed_move(const Move_Attempt& attempt, const std::string& outcome);

#endif
