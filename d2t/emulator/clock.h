// The emulator's only view of time: a monotonic millisecond clock and a
// sleep. The system clock is CLOCK_MONOTONIC, which every process of one
// boot shares, so load times stored in the state file compare across
// processes. Tests use Fake_Clock, whose time advances only when asked to
// or when something sleeps on it.
#ifndef D2T_EMULATOR_CLOCK_H
#define D2T_EMULATOR_CLOCK_H

#include <atomic>
#include <cstdint>
#include <memory>

namespace d2t {
namespace emulator {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint64_t now_ms() = 0;
  virtual void sleep_ms(std::uint64_t ms) = 0;
};

// The process-wide monotonic clock.
std::shared_ptr<Clock> system_clock();

// Time starts at `start_ms` and moves on by advance() and by sleep_ms().
class Fake_Clock : public Clock {
 public:
  explicit Fake_Clock(std::uint64_t start_ms = 1000000) : now_(start_ms) {}
  std::uint64_t now_ms() override { return now_.load(); }
  void sleep_ms(std::uint64_t ms) override {
    now_ += ms;
    slept_ += ms;
  }
  void advance(std::uint64_t ms) { now_ += ms; }
  // Total time spent in sleep_ms(), to check simulated mechanical time.
  std::uint64_t slept_ms() const { return slept_.load(); }

 private:
  std::atomic<std::uint64_t> now_;
  std::atomic<std::uint64_t> slept_{0};
};

}  // namespace emulator
}  // namespace d2t

#endif
