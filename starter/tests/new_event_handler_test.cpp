#include "starter/new_event_handler.h"

#include <ace/Reactor.h>
#include <gtest/gtest.h>

namespace {

// Counts its own destruction; open() schedules a timer or fails.
class Probe : public ACE_Event_Handler {
 public:
  static int destroyed;
  static bool fail;
  static long timer;
  ~Probe() override { ++destroyed; }
  int open(ACE_Reactor* reactor) {
    if (fail) return -1;
    timer = reactor->schedule_timer(this, nullptr, ACE_Time_Value(3600));
    return timer == -1 ? -1 : 0;
  }
};
int Probe::destroyed = 0;
bool Probe::fail = false;
long Probe::timer = -1;

TEST(New_Event_Handler, FailedOpenDestroysTheHandler) {
  Probe::destroyed = 0;
  Probe::fail = true;
  new_event_handler<Probe>();
  EXPECT_EQ(1, Probe::destroyed);
}

TEST(New_Event_Handler, ReactorKeepsAnOpenedHandlerAliveUntilItLetsGo) {
  Probe::destroyed = 0;
  Probe::fail = false;
  new_event_handler<Probe>();
  EXPECT_EQ(0, Probe::destroyed);
  ASSERT_NE(-1, Probe::timer);
  // Cancelling the timer drops the reactor's reference, the last one.
  EXPECT_EQ(1, ACE_Reactor::instance()->cancel_timer(Probe::timer));
  EXPECT_EQ(1, Probe::destroyed);
}

}  // namespace
