#include "testing/log_capture.h"

#include <ace/Log_Record.h>

namespace test_support {

Log_Capture::Log_Capture(ACE_Log_Priority min_priority) : min_(min_priority) {
  ACE_Log_Msg* log = ACE_LOG_MSG;
  previous_flags_ = log->flags();
  previous_callback_ = log->msg_callback();
  attach_this_thread();
}

Log_Capture::~Log_Capture() {
  ACE_Log_Msg* log = ACE_LOG_MSG;
  if (log->msg_callback() != this) return;  // made on another thread: left to detach
  log->msg_callback(previous_callback_);
  log->clr_flags(ACE_Log_Msg::MSG_CALLBACK);
  log->set_flags(previous_flags_);
}

void Log_Capture::attach_this_thread() {
  ACE_LOG_MSG->msg_callback(this);
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::MSG_CALLBACK);
}

void Log_Capture::detach_this_thread() {
  ACE_LOG_MSG->msg_callback(nullptr);
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::MSG_CALLBACK);
}

void Log_Capture::log(ACE_Log_Record& record) {
  if (record.type() < static_cast<ACE_UINT32>(min_)) return;
  std::lock_guard<std::mutex> guard(mutex_);
  entries_.push_back({static_cast<ACE_Log_Priority>(record.type()), record.msg_data()});
}

bool Log_Capture::has_line(const std::string& text) const {
  for (const Entry& e : entries())
    if (e.text == text) return true;
  return false;
}

bool Log_Capture::starts_with(const std::string& text) const {
  for (const Entry& e : entries())
    if (e.text.compare(0, text.size(), text) == 0) return true;
  return false;
}

int Log_Capture::count(const std::string& text) const {
  int n = 0;
  for (const Entry& e : entries()) n += e.text.find(text) != std::string::npos ? 1 : 0;
  return n;
}

ACE_Log_Priority Log_Capture::priority_of(const std::string& text) const {
  for (const Entry& e : entries())
    if (e.text.find(text) != std::string::npos) return e.priority;
  return LM_SHUTDOWN;
}

std::vector<std::string> Log_Capture::lines() const {
  std::vector<std::string> out;
  for (const Entry& e : entries()) out.push_back(e.text);
  return out;
}

std::vector<Log_Capture::Entry> Log_Capture::entries() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return entries_;
}

void Log_Capture::clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  entries_.clear();
}

}  // namespace test_support
