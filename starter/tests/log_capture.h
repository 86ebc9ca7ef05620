// Collects the ACE_Log_Msg records of every thread in memory for the
// duration of a test (testing/log_capture.h: those of chosen threads).

#ifndef STARTER_TESTS_LOG_CAPTURE_H
#define STARTER_TESTS_LOG_CAPTURE_H

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Record.h>

#include <mutex>
#include <string>
#include <vector>

class Log_Capture : public ACE_Log_Msg_Backend {
 public:
  struct Entry {
    ACE_Log_Priority priority;
    std::string text;
  };

  Log_Capture() {
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
    std::lock_guard<std::mutex> guard(lock_);
    entries_.push_back({static_cast<ACE_Log_Priority>(record.type()), record.msg_data()});
    return 0;
  }

  std::vector<Entry> entries() {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_;
  }
  // Number of records containing `text`.
  int count(const std::string& text) {
    int n = 0;
    for (const Entry& e : entries()) n += e.text.find(text) != std::string::npos ? 1 : 0;
    return n;
  }
  // Priority of the first record containing `text`; LM_SHUTDOWN for none.
  ACE_Log_Priority priority_of(const std::string& text) {
    for (const Entry& e : entries()) {
      if (e.text.find(text) != std::string::npos) return e.priority;
    }
    return LM_SHUTDOWN;
  }

 private:
  ACE_Log_Msg_Backend* previous_backend_ = nullptr;
  unsigned long previous_flags_ = 0;
  std::mutex lock_;
  std::vector<Entry> entries_;
};

#endif
