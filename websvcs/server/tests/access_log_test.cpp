// The access log's own thread: every line written, in order, at info
// priority; lines past a stalled output dropped and counted, not waited for.
#include "websvcs/server/access_log.h"

#include <gtest/gtest.h>

#include <future>

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

TEST(Access_Log, WritesEveryLineInOrderAtInfoPriority) {
  Log_Capture log;
  Access_Log access;
  for (int i = 0; i < 100; ++i) access.write("HTTP line " + std::to_string(i));
  access.stop();
  std::vector<Log_Capture::Entry> entries = log.entries();
  ASSERT_EQ(100u, entries.size());
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ("HTTP line " + std::to_string(i) + "\n", entries[i].text);
    EXPECT_EQ(LM_INFO, entries[i].priority);
  }
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
  EXPECT_EQ(1, log.count("first"));
  EXPECT_EQ(1, log.count("queued 0"));
  EXPECT_EQ(1, log.count("queued 1"));
  EXPECT_EQ(0, log.count("queued 2"));
  EXPECT_EQ(1, log.count("3 access log lines dropped"));
  EXPECT_EQ(LM_WARNING, log.priority_of("access log lines dropped"));
}

}  // namespace
