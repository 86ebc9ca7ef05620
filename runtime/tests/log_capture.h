// Captures the ACE log records of the calling thread while it lives, so
// tests can check what was logged instead of printing it.
#ifndef RUNTIME_TESTS_LOG_CAPTURE_H
#define RUNTIME_TESTS_LOG_CAPTURE_H

#include <string>
#include <vector>

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Callback.h>
#include <ace/Log_Record.h>

class Log_Capture : public ACE_Log_Msg_Callback {
 public:
  Log_Capture() {
    ACE_Log_Msg* log = ACE_Log_Msg::instance();
    old_callback_ = log->msg_callback(this);
    old_flags_ = log->flags();
    log->set_flags(ACE_Log_Msg::MSG_CALLBACK);
    log->clr_flags(ACE_Log_Msg::STDERR);
  }
  ~Log_Capture() override {
    ACE_Log_Msg* log = ACE_Log_Msg::instance();
    log->msg_callback(old_callback_);
    log->clr_flags(ACE_Log_Msg::MSG_CALLBACK);
    log->set_flags(old_flags_);
  }
  void log(ACE_Log_Record& record) override {
    records_.push_back({static_cast<ACE_Log_Priority>(record.type()), record.msg_data()});
  }
  struct Entry {
    ACE_Log_Priority priority;
    std::string text;
  };
  std::vector<Entry> records_;

 private:
  ACE_Log_Msg_Callback* old_callback_;
  unsigned long old_flags_;
};

#endif
