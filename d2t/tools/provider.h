// Seams of the device utility library: which Device_Provider reaches the
// devices, and the clock used for waits and retry intervals.
//
// By default the provider is chosen once per process, on first use: the
// emulated library named by the environment variable D2T_EMULATOR when it
// is set, else the host's devices (sysfs under "/sys", nodes under
// "/dev"). refresh_devices() drops the choice so the next call chooses
// again. The default clock is the monotonic system clock.
#ifndef D2T_TOOLS_PROVIDER_H
#define D2T_TOOLS_PROVIDER_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "d2t/scsi/transport.h"

namespace d2t {
namespace tools {

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds.
  virtual std::uint64_t now_ms() = 0;
  virtual void sleep_ms(std::uint64_t ms) = 0;
};

// A clock for tests and tools runs: time moves only when something sleeps,
// so waits cost nothing and are counted. Thread-safe.
class Manual_Clock : public Clock {
 public:
  std::uint64_t now_ms() override { return now_; }
  void sleep_ms(std::uint64_t ms) override {
    now_ += ms;
    slept_ += ms;
  }
  std::atomic<std::uint64_t> now_{1000000};
  std::atomic<std::uint64_t> slept_{0};  // total slept, in ms
};

// Uses `provider` for every operation from now on; nullptr restores the
// default choice. Thread-safe.
void set_device_provider(std::shared_ptr<d2t::scsi::Device_Provider> provider);

// The provider in use, choosing the default when none is set. Null with
// `error` set when the emulated library cannot be opened.
std::shared_ptr<d2t::scsi::Device_Provider> device_provider(std::string* error);

// True when the devices are (or, on first use, will be) the emulator's: an
// emulated provider was set, or none was and D2T_EMULATOR names a library
// file. `file` (when given) receives D2T_EMULATOR's value ("" when unset).
// Never opens the library. Thread-safe.
bool on_emulator(std::string* file);

// Uses `clock` for waits and retry intervals; nullptr restores the
// monotonic system clock. Thread-safe.
void set_clock(std::shared_ptr<Clock> clock);
std::shared_ptr<Clock> clock();

}  // namespace tools
}  // namespace d2t

#endif
