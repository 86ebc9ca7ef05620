// Helpers shared by the inventory and the controller tests, header-only so
// that the inventory tests need not link the controller: a temporary
// folder and a capture of log lines.
#ifndef D2T_CONTROLLER_TESTS_SUPPORT_TEST_UTIL_H
#define D2T_CONTROLLER_TESTS_SUPPORT_TEST_UTIL_H

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Callback.h>
#include <ace/Log_Record.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace controller_test {

// A temporary folder (under $TMPDIR) removed with everything in it.
class Temp_Dir {
 public:
  Temp_Dir() {
    std::string templ =
        (std::filesystem::temp_directory_path() / "controller_test.XXXXXX").string();
    if (::mkdtemp(templ.data()) != nullptr)
      path_ = templ;
    else
      ADD_FAILURE() << "mkdtemp failed";
  }
  ~Temp_Dir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  Temp_Dir(const Temp_Dir&) = delete;
  Temp_Dir& operator=(const Temp_Dir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Records every log line at `min_priority` or above written by the thread
// that made it (and by any thread that calls attach_this_thread()).
class Log_Capture : public ACE_Log_Msg_Callback {
 public:
  explicit Log_Capture(ACE_Log_Priority min_priority = LM_SHUTDOWN) : min_(min_priority) {
    attach_this_thread();
  }
  ~Log_Capture() override { detach_this_thread(); }
  void attach_this_thread() {
    ACE_LOG_MSG->msg_callback(this);
    ACE_LOG_MSG->set_flags(ACE_Log_Msg::MSG_CALLBACK);
  }
  void detach_this_thread() {
    ACE_LOG_MSG->msg_callback(nullptr);
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::MSG_CALLBACK);
  }
  void log(ACE_Log_Record& record) override {
    if (record.type() < static_cast<ACE_UINT32>(min_)) return;
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.emplace_back(record.msg_data());
  }
  // True when some line contains `text`, is `text`, or starts with `text`.
  bool contains(const std::string& text) const { return any(text, ANYWHERE); }
  bool has_line(const std::string& text) const { return any(text, WHOLE); }
  bool starts_with(const std::string& text) const { return any(text, START); }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
  }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
  }

 private:
  enum Match { ANYWHERE, WHOLE, START };
  bool any(const std::string& text, Match how) const {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const std::string& l : lines_) {
      const std::size_t at = l.find(text);
      if (at == std::string::npos || (how != ANYWHERE && at != 0)) continue;
      if (how != WHOLE || l.size() == text.size()) return true;
    }
    return false;
  }

  const ACE_Log_Priority min_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace controller_test

#endif
