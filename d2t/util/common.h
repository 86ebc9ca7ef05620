// Shared vocabulary of the tape records: the slot state enum, the constants
// of tape handling and the shared-handle types through which changers,
// drives and slots are passed around.
#ifndef D2T_UTIL_COMMON_H
#define D2T_UTIL_COMMON_H

#include <ace/Basic_Types.h>
#include <ace/Bound_Ptr.h>
#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Refcounted_Auto_Ptr.h>

#include <string>

namespace d2t {

class Changer;
class Drive;
class Media;

// What a slot holds. Values are stored in the inventory by name (see
// media_state_to_name), never by number.
enum Media_State : ACE_INT32 {
  MST_EMPTY = 0,    // no cartridge
  MST_UNKNOWN = 1,  // a cartridge whose capacity is not known
  MST_CLEAN = 2,    // a cleaning cartridge
  MST_BLANK = 3,    // a usable cartridge of known capacity
  MST_CURRENT = 4,
  MST_FULL = 5,  // occupied, not yet classified (fresh element status)
  MST_EXPIRED = 6,
  MST_RETIRED = 7,
  MST_OFFLINE = 8,
  MST_RETRIEVED = 9,
};

// Constants of tape handling.
enum : ACE_INT64 {
  WAIT_DRIVE_READY_SECONDS = 300,
  LOAD_UNLOAD_RETRY_INTERVAL = 3,
  LOAD_UNLOAD_DEFAULT_RETRIES = 3,
  DEFAULT_BLOCK_SIZE = 8192,
  TYPE_DETECT_TIME_THD_IN_MS = 4000,
  DRIVE_BUSY_OPEN_RETRIES = 5,
  DRIVE_BUSY_SLEEP_INTERVAL = 10,
  MAX_DRIVE_CONSECUTIVE_FAILURES = 3,
  MAX_TAPE_CAPACITY = 211106232532992LL,  // 192 TiB
};

// The library type a timed load plus unload gives: "virtual" when the
// cycle took at most TYPE_DETECT_TIME_THD_IN_MS milliseconds (no robot
// arm moved), else "physical". Every timing of a library's type uses it.
inline const char* library_type_for_cycle_ms(ACE_UINT64 ms) {
  return ms <= static_cast<ACE_UINT64>(TYPE_DETECT_TIME_THD_IN_MS) ? "virtual" : "physical";
}

// Shared handles; the last handle frees the record. A handle may be null:
// list entries are dropped by resetting them in place, so readers of a
// list skip null entries.
typedef ACE_Strong_Bound_Ptr<Changer, ACE_Recursive_Thread_Mutex> Changer_var;
typedef ACE_Refcounted_Auto_Ptr<Drive, ACE_Recursive_Thread_Mutex> Drive_var;
typedef ACE_Refcounted_Auto_Ptr<Media, ACE_Recursive_Thread_Mutex> Media_var;

// The state's text name: "empty", "unknown", "clean", "blank", "current",
// "full", "expired", "retired", "offline", "retrieved"; "invalid" for a
// value outside the enum. Never null.
const char* media_state_to_name(Media_State state);

// Reverse of media_state_to_name: true and `state` set when `name` is one
// of the names above (exact, lower case); false and `state` unchanged
// otherwise.
bool media_state_from_name(const std::string& name, Media_State& state);

}  // namespace d2t

#endif
