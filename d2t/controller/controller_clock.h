// The one seam through which the tape controller reads the time and waits.
//
// Library scans poll drives every LOAD_UNLOAD_RETRY_INTERVAL seconds and
// time a load plus an unload to tell a physical library from a virtual one.
// Both go through a Controller_Clock so that tests can run a scan on a fake
// clock (sleeping advances the time, nothing really waits) while the daemon
// keeps the real wall clock and real 3-second sleeps.
#ifndef D2T_CONTROLLER_CONTROLLER_CLOCK_H
#define D2T_CONTROLLER_CONTROLLER_CLOCK_H

#include <ace/Basic_Types.h>

#include <atomic>
#include <memory>

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

// A clock for tests: time moves only by sleeping, or by `step_ms` on each
// reading (to make every load and unload look that long). Counts sleeps
// and readings. Thread-safe.
class Manual_Controller_Clock : public Controller_Clock {
 public:
  explicit Manual_Controller_Clock(ACE_UINT64 step_ms = 0) : step_ms_(step_ms) {}
  ACE_UINT64 now_ms() override {
    ++reads_;
    return now_.fetch_add(step_ms_);
  }
  void sleep_seconds(unsigned int seconds) override {
    now_ += 1000ULL * seconds;
    ++sleeps_;
  }
  int sleeps() const { return sleeps_.load(); }
  int reads() const { return reads_.load(); }

 private:
  ACE_UINT64 step_ms_;
  std::atomic<ACE_UINT64> now_{1000000};
  std::atomic<int> sleeps_{0};
  std::atomic<int> reads_{0};
};

#endif
