#include "d2t/controller/controller_clock.h"

#include <ace/OS_NS_sys_time.h>
#include <ace/OS_NS_unistd.h>
#include <ace/Time_Value.h>

namespace {

class System_Clock : public Controller_Clock {
 public:
  ACE_UINT64 now_ms() override {
    ACE_UINT64 ms = 0;
    ACE_OS::gettimeofday().msec(ms);
    return ms;
  }

  void sleep_seconds(unsigned int seconds) override {
    ACE_OS::sleep(ACE_Time_Value(seconds));
  }
};

}  // namespace

std::shared_ptr<Controller_Clock> Controller_Clock::system() {
  static const std::shared_ptr<Controller_Clock> clock = std::make_shared<System_Clock>();
  return clock;
}
