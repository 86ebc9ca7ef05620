// Test helpers: a temporary directory removed with its content, and a
// capture of the calling thread's ACE log records.
#ifndef RUNTIME_TESTS_SUPPORT_H
#define RUNTIME_TESTS_SUPPORT_H

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Callback.h>
#include <ace/Log_Record.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

class Temp_Dir {
 public:
  Temp_Dir() {
    char tmpl[] = "/tmp/runtime_test_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~Temp_Dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  Temp_Dir(const Temp_Dir&) = delete;
  Temp_Dir& operator=(const Temp_Dir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

class Log_Capture : public ACE_Log_Msg_Callback {
 public:
  struct Entry {
    ACE_Log_Priority priority;
    std::string text;
  };
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
  std::vector<Entry> records_;

 private:
  ACE_Log_Msg_Callback* old_callback_;
  unsigned long old_flags_;
};

#endif
