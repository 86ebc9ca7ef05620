// The one seam through which the tape controller reads the time and waits.
//
// Library scans poll drives every LOAD_UNLOAD_RETRY_INTERVAL seconds and
// time a load plus an unload to tell a physical library from a virtual one.
// Both go through a Controller_Clock so that tests can run a scan on a fake
// clock (sleeping advances the time, nothing really waits) while the daemon
// keeps the real wall clock and real 3-second sleeps.
#ifndef D2T_CONTROLLER_CONTROLLER_CLOCK_H
#define D2T_CONTROLLER_CONTROLLER_CLOCK_H

#include <memory>

#include <ace/Basic_Types.h>

class Controller_Clock {
 public:
  virtual ~Controller_Clock() {}

  // Wall-clock time in milliseconds (ACE_OS::gettimeofday for the real
  // clock). Only differences between two readings are used.
  virtual ACE_UINT64 now_ms() = 0;

  // Waits `seconds` seconds (the real clock sleeps; a fake one advances).
  virtual void sleep_seconds(unsigned int seconds) = 0;

  // The process's real clock; never null, shared by every controller.
  static std::shared_ptr<Controller_Clock> system();
};

#endif
