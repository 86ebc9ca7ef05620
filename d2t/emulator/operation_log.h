// The operation log of an emulated library: one JSON line per robot or
// drive operation (MOVE MEDIUM, LOAD UNLOAD, READ ELEMENT STATUS) with the
// moments it started and ended, so a test can check which operations ran
// at the same time, also across processes sharing the library.
//
// Off unless the library file names "operation_log". Each line is written
// by one write() on a file opened for appending, under an exclusive flock
// of that file, so processes sharing the log never interleave their lines.
// A log that cannot be written is skipped: the operation itself is not
// affected.
#ifndef D2T_EMULATOR_OPERATION_LOG_H
#define D2T_EMULATOR_OPERATION_LOG_H

#include <cstdint>
#include <string>

namespace d2t {
namespace emulator {

struct Operation_Record {
  const char* op = "";         // "move", "load", "unload" or "status"
  std::string changer;         // changer serial
  std::uint64_t start_ms = 0;  // monotonic clock of the machine
  std::uint64_t end_ms = 0;
  // Element addresses of a move; -1 otherwise.
  std::int32_t source = -1;
  std::int32_t destination = -1;
  // A status read's element type code (0 all, 1 transport, 2 storage, 3
  // porter, 4 drive), first address and number of elements; -1 otherwise.
  std::int32_t element_type = -1;
  std::int32_t first = -1;
  std::int32_t count = -1;
  // Serial of the drive a move, load or unload involves; "" for none (a
  // move between slots, a status read).
  std::string drive;
  bool good = true;  // answered GOOD
};

// Appends `record` (with this process's id) to `path`; nothing when `path`
// is empty.
void append_operation(const std::string& path, const Operation_Record& record);

}  // namespace emulator
}  // namespace d2t

#endif
