// The access log's own thread: every line written, in order, at info
// priority; lines past a stalled output dropped and counted, not waited for.
#include "websvcs/server/access_log.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <tuple>

#include "starter/tests/log_capture.h"

namespace {

const std::chrono::seconds HANG_GUARD(60);

// Holds the first record until released, like an output that stalls.
class Stalling_Capture : public Log_Capture {
 public:
  ssize_t log(ACE_Log_Record& record) override {
    if (!entered_once_) {
      entered_once_ = true;
      entered_.set_value();
      release_.get_future().wait();
    }
    return Log_Capture::log(record);
  }
  std::promise<void> entered_, release_;
  bool entered_once_ = false;  // only the writing thread logs
};

// Lines of several threads go out in the order they were added, several
// to a record, each record whole lines.
TEST(Access_Log, WritesEveryLineInOrderAtInfoPriority) {
  Log_Capture log;
  Access_Log access(65536, std::chrono::milliseconds(1));
  // Lines come out without a stop, also after a quiet spell that put the
  // writing thread to sleep.
  std::string expected;
  for (const char* line : {"HTTP early", "HTTP after a quiet spell"}) {
    access.write(line);
    expected += std::string(line) + "\n";
    for (auto until = std::chrono::steady_clock::now() + HANG_GUARD;
         log.count(line) == 0 && std::chrono::steady_clock::now() < until;)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(1, log.count(line));
  }
  std::mutex turn;  // makes the order of the threads' lines known
  int next = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 250; ++i) {
        std::lock_guard<std::mutex> lock(turn);
        const std::string line = "HTTP line " + std::to_string(next) + std::string(next % 300, 'x');
        ++next;
        access.write(line);
        expected += line + "\n";
      }
    });
  for (std::thread& t : threads) t.join();
  access.stop();
  std::string written;
  std::vector<Log_Capture::Entry> entries = log.entries();
  for (const Log_Capture::Entry& e : entries) {
    EXPECT_EQ(LM_INFO, e.priority);
    EXPECT_EQ('\n', e.text.back());
    EXPECT_LT(e.text.size(), 4000u);  // never cut short by the process log
    written += e.text;
  }
  EXPECT_EQ(expected, written);
  EXPECT_LT(entries.size(), 500u);
  access.write("after stop");  // written at once
  EXPECT_EQ(1, log.count("after stop"));
}

TEST(Access_Log, AStalledOutputDropsAndCountsLinesInsteadOfWaiting) {
  Stalling_Capture log;
  Access_Log access(2);
  access.write("first");
  ASSERT_EQ(std::future_status::ready, log.entered_.get_future().wait_for(HANG_GUARD));
  for (int i = 0; i < 5; ++i) access.write("queued " + std::to_string(i));  // returns at once
  log.release_.set_value();
  access.stop();
  EXPECT_EQ(std::make_tuple(1, 1, 1, 0),
            std::make_tuple(log.count("first"), log.count("queued 0"), log.count("queued 1"),
                            log.count("queued 2")));
  EXPECT_EQ(1, log.count("3 access log lines dropped"));
  EXPECT_EQ(LM_WARNING, log.priority_of("access log lines dropped"));
}

}  // namespace
