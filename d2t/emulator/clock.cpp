#include "d2t/emulator/clock.h"

#include <time.h>

#include <cerrno>

namespace d2t {
namespace emulator {

namespace {

class System_Clock : public Clock {
 public:
  std::uint64_t now_ms() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  }
  void sleep_ms(std::uint64_t ms) override {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(ms / 1000);
    ts.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

std::shared_ptr<Clock> system_clock() {
  static std::shared_ptr<Clock> clock = std::make_shared<System_Clock>();
  return clock;
}

}  // namespace emulator
}  // namespace d2t
