// Collects the ACE_Log_Msg records of every thread in memory for the
// duration of a test, through the process-wide log back end
// (testing/log_capture.h, which keeps the lines, alone sees only the
// threads attached to it).

#ifndef STARTER_TESTS_LOG_CAPTURE_H
#define STARTER_TESTS_LOG_CAPTURE_H

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>

#include <string>
#include <vector>

#include "testing/log_capture.h"

class Log_Capture : public ACE_Log_Msg_Backend {
 public:
  typedef test_support::Log_Capture::Entry Entry;

  Log_Capture() {
    lines_.detach_this_thread();  // the back end hands over every thread's records
    previous_backend_ = ACE_Log_Msg::msg_backend(this);
    previous_flags_ = ACE_LOG_MSG->flags();
    ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
  }
  ~Log_Capture() override {
    ACE_Log_Msg::msg_backend(previous_backend_);
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::CUSTOM);
    ACE_LOG_MSG->set_flags(previous_flags_);
  }

  int open(const ACE_TCHAR*) override { return 0; }
  int reset() override { return 0; }
  int close() override { return 0; }
  ssize_t log(ACE_Log_Record& record) override {
    lines_.log(record);
    return 0;
  }

  std::vector<Entry> entries() const { return lines_.entries(); }
  int count(const std::string& text) const { return lines_.count(text); }
  ACE_Log_Priority priority_of(const std::string& text) const { return lines_.priority_of(text); }

 private:
  test_support::Log_Capture lines_;
  ACE_Log_Msg_Backend* previous_backend_ = nullptr;
  unsigned long previous_flags_ = 0;
};

#endif
