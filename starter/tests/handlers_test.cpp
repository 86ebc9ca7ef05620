// Handler plumbing run in-process (the process tests cover real signals):
// the thread name for signal messages and new_event_handler's ownership.

#include <ace/Reactor.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include "starter/new_event_handler.h"
#include "starter/signal_handlers.h"

namespace {

TEST(Signal_Handlers, ThreadNameIsUnknownWithoutPthreadGetname) {
  char name[16];
  starter::pthread_getname = nullptr;
  get_thread_name(name);
  EXPECT_STREQ("unknown", name);

  starter::pthread_getname =
      reinterpret_cast<starter::pthread_getname_np_t>(::dlsym(RTLD_DEFAULT, "pthread_getname_np"));
  ASSERT_NE(nullptr, starter::pthread_getname);
  ::pthread_setname_np(::pthread_self(), "a-fifteen-chars");
  get_thread_name(name);
  EXPECT_STREQ("a-fifteen-chars", name);
  starter::pthread_getname = nullptr;
}

// Counts its own destruction; open() schedules a timer or fails.
class Probe : public ACE_Event_Handler {
 public:
  static inline int destroyed = 0;
  static inline bool fail = false;
  static inline long timer = -1;
  ~Probe() override { ++destroyed; }
  int open(ACE_Reactor* reactor) {
    if (fail) return -1;
    timer = reactor->schedule_timer(this, nullptr, ACE_Time_Value(3600));
    return timer == -1 ? -1 : 0;
  }
};

TEST(New_Event_Handler, FailedOpenDestroysAndTheReactorKeepsAnOpenedOneAlive) {
  Probe::fail = true;
  new_event_handler<Probe>();
  EXPECT_EQ(1, Probe::destroyed);

  Probe::fail = false;
  new_event_handler<Probe>();
  EXPECT_EQ(1, Probe::destroyed);
  ASSERT_NE(-1, Probe::timer);
  // Cancelling the timer drops the reactor's reference, the last one.
  EXPECT_EQ(1, ACE_Reactor::instance()->cancel_timer(Probe::timer));
  EXPECT_EQ(2, Probe::destroyed);
}

}  // namespace
