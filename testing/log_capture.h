// Log lines of a test: every ACE record at a minimum priority or above
// written by the threads that attached the capture.
#ifndef TESTING_LOG_CAPTURE_H
#define TESTING_LOG_CAPTURE_H

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Callback.h>

#include <mutex>
#include <string>
#include <vector>

namespace test_support {

// Attaches to the thread that makes it (and to any thread that calls
// attach_this_thread()); detaching restores that thread's earlier
// callback and flags. Lines still go wherever the thread logged before.
class Log_Capture : public ACE_Log_Msg_Callback {
 public:
  struct Entry {
    ACE_Log_Priority priority;
    std::string text;
  };

  explicit Log_Capture(ACE_Log_Priority min_priority = LM_SHUTDOWN);
  ~Log_Capture() override;
  Log_Capture(const Log_Capture&) = delete;
  Log_Capture& operator=(const Log_Capture&) = delete;

  void attach_this_thread();
  void detach_this_thread();
  void log(ACE_Log_Record& record) override;

  // Whether some line contains `text`, is `text`, or starts with `text`.
  bool contains(const std::string& text) const { return count(text) > 0; }
  bool has_line(const std::string& text) const;
  bool starts_with(const std::string& text) const;
  // How many lines contain `text`.
  int count(const std::string& text) const;
  // The priority of the first line containing `text`; LM_SHUTDOWN when none.
  ACE_Log_Priority priority_of(const std::string& text) const;
  std::vector<std::string> lines() const;
  std::vector<Entry> entries() const;
  void clear();

 private:
  const ACE_Log_Priority min_;
  ACE_Log_Msg_Callback* previous_callback_ = nullptr;
  unsigned long previous_flags_ = 0;
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace test_support

#endif
