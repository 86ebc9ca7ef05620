// The worker pool: threads follow the work, and stop finishes what was
// queued.
#include "websvcs/server/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>

namespace {

const std::chrono::seconds HANG_GUARD(60);

TEST(Worker_Pool, GrowsWithBlockedJobsUpToItsLimitAndFinishesQueuedOnStop) {
  Worker_Pool pool(3, std::chrono::milliseconds(60000));
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<int> started{0}, done{0};
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(pool.submit([&] {
      ++started;
      gate.wait();
      ++done;
    }));
  // Three run at once, two wait for a thread.
  for (auto until = std::chrono::steady_clock::now() + HANG_GUARD;
       started.load() < 3 && std::chrono::steady_clock::now() < until;)
    std::this_thread::yield();
  EXPECT_EQ(3, started.load());
  EXPECT_EQ(3u, pool.threads());
  release.set_value();
  pool.stop();
  EXPECT_EQ(5, done.load());
  EXPECT_EQ(0u, pool.threads());
  EXPECT_FALSE(pool.submit([] {}));
  pool.stop();  // idempotent
}

TEST(Worker_Pool, IdleThreadsEndAndNewWorkStartsOthers) {
  Worker_Pool pool(4, std::chrono::milliseconds(10));
  std::promise<void> ran;
  ASSERT_TRUE(pool.submit([&] { ran.set_value(); }));
  ASSERT_EQ(std::future_status::ready, ran.get_future().wait_for(HANG_GUARD));
  for (auto until = std::chrono::steady_clock::now() + HANG_GUARD;
       pool.threads() > 0 && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(0u, pool.threads());
  std::promise<void> again;
  ASSERT_TRUE(pool.submit([&] { again.set_value(); }));
  EXPECT_EQ(std::future_status::ready, again.get_future().wait_for(HANG_GUARD));
}

// Jobs one after another are run by the threads already there: a request
// does not cost a thread. (A thread may be slow to turn idle again on a
// loaded machine, so a few may be made; far fewer than the jobs.)
TEST(Worker_Pool, IdleThreadsTakeNewJobs) {
  Worker_Pool pool(20, std::chrono::milliseconds(60000));
  std::set<std::thread::id> ran_on;
  for (int i = 0; i < 20; ++i) {
    std::promise<std::thread::id> ran;
    ASSERT_TRUE(pool.submit([&] { ran.set_value(std::this_thread::get_id()); }));
    std::future<std::thread::id> id = ran.get_future();
    ASSERT_EQ(std::future_status::ready, id.wait_for(HANG_GUARD));
    ran_on.insert(id.get());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_LT(ran_on.size(), 10u);
}

}  // namespace
