// Per library serial number, keeps the requests that check the inventory
// and then act on it from interleaving: rescan, refresh and transfer hold
// their library exclusively; drive loads and unloads share it with each
// other, so work on different drives of one library still overlaps (an
// unload can wait a minute for its drive to eject).
//
// Why: the controller takes no lock around these operations, but each of
// them reads the robot's or the inventory's view and writes it back later.
// Interleaved on one library they lose updates: a refresh that read the
// element status before a concurrent move writes the old positions back
// after the move recorded the new ones, and a transfer that checked an
// empty target can race another transfer into the same slot. Requests for
// different libraries run in parallel.
//
//   {
//     Library_Guard guard(serial_number);  // waits for the library
//     ... check, move, record ...
//   }                                       // the next request may go
//
// Entries exist only while a guard holds or awaits them, so serial numbers
// sent by clients cannot make the table grow. Thread-safe; not recursive
// (a thread must not take the guard of a library it already holds).
#ifndef WEBSVCS_CONTROLLER_TAPECTL_LIBRARY_GUARD_H
#define WEBSVCS_CONTROLLER_TAPECTL_LIBRARY_GUARD_H

#include <cstddef>
#include <string>

#include "json_spirit/json_spirit_value.h"

class Library_Guard {
 public:
  enum Mode { EXCLUSIVE, SHARED };
  // Blocks until `serial_number` is free (EXCLUSIVE), or until no
  // exclusive guard holds it (SHARED).
  explicit Library_Guard(const std::string& serial_number, Mode mode = EXCLUSIVE);
  ~Library_Guard();
  Library_Guard(const Library_Guard&) = delete;
  Library_Guard& operator=(const Library_Guard&) = delete;

  // Number of serial numbers held or awaited now (for tests).
  static std::size_t entries();

  struct Entry;

 private:
  std::string serial_number_;
  Mode mode_;
  Entry* entry_;
};

// Serial number of the library that holds the drive named by
// request["serial_number"], from the inventory; "" when the request names
// no drive or the inventory does not know it (then the controller refuses
// the request itself, and there is nothing to serialise).
std::string library_of_drive(const json_spirit::Object& request);

#endif
