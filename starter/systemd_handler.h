// systemd readiness and watchdog notification.
//
// When the host runs as a systemd service with a watchdog, it sends
// "READY=1" once its services are loaded and then "WATCHDOG=1" from a
// repeating reactor timer. systemd's client library is loaded at run time
// (never linked), so the host also runs where the library is missing; the
// notifier then simply does not start.
//
// Environment:
//   LIBSYSTEMD_FILENAME  unset or empty: "libsystemd.so.0", falling back to
//                        "libsystemd-daemon.so.0"; "0": notification off;
//                        anything else: the library file to load.
//   WATCHDOG_USEC, WATCHDOG_PID
//                        read only when the library lacks
//                        sd_watchdog_enabled.
//   SD_NOTIFY_INTERVAL   the interval in whole seconds, overriding the one
//                        derived from the watchdog timeout.

#ifndef STARTER_SYSTEMD_HANDLER_H
#define STARTER_SYSTEMD_HANDLER_H

#include <ace/Event_Handler.h>

#include <cstdint>
#include <string>

class ACE_Reactor;

// The notification interval in microseconds for a watchdog timeout of
// `usec` microseconds and the SD_NOTIFY_INTERVAL text `interval_text`
// (null or empty when unset).
//   - a non-zero SD_NOTIFY_INTERVAL (whole seconds) wins (clamped to the
//     largest count of seconds whose microseconds fit in 64 bits);
//   - otherwise a third of the timeout, at least 3 seconds, but never so
//     long that a short watchdog timeout (below 6 seconds) would starve:
//     then half the timeout.
std::uint64_t notify_interval_usec(std::uint64_t usec, const char* interval_text);

// Sends `state` (lines "NAME=value\n") to systemd through the handler that
// sent READY=1; false, sending nothing, when no handler is open. Any
// thread.
bool notify_systemd(const std::string& state);

// What a reload tells systemd: "RELOADING=1" with the monotonic time
// before it, "READY=1" and a "STATUS=" line saying how it went after it.
void notify_reload_begins();
void notify_reload_ended(bool succeeded);

class Systemd_Handler : public ACE_Event_Handler {
 public:
  Systemd_Handler();
  ~Systemd_Handler() override;  // runs close()

  Systemd_Handler(const Systemd_Handler&) = delete;
  Systemd_Handler& operator=(const Systemd_Handler&) = delete;

  // Loads the library, checks that systemd runs and the watchdog is on,
  // schedules the watchdog timer on `reactor` and sends "READY=1" and a
  // first "WATCHDOG=1". Returns 0, or -1 after running close() (the
  // failure is logged as the environment section above describes, or
  // silent where notification is simply not wanted or possible).
  int open(ACE_Reactor* reactor);

  // Cancels the timer, detaches from the reactor and unloads the library.
  // Returns 0.
  int close();

  // Sends "WATCHDOG=1" through the sd_notify function passed as `act`.
  int handle_timeout(const ACE_Time_Value& now, const void* act) override;

 private:
  int open_i(ACE_Reactor* reactor);

  void* handle_ = nullptr;  // dlopen handle of the client library
  long notify_timer_id_ = -1;
};

#endif
