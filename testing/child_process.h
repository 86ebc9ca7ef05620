// A program of the build run as a child process whose output is collected
// by a reader thread (so tests wait for log lines without fixed sleeps),
// and a stand-in for systemd's notification socket.
#ifndef TESTING_CHILD_PROCESS_H
#define TESTING_CHILD_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

class Child_Process {
 public:
  // Starts `argv[0]` with `argv`, the current environment plus `env`
  // ("NAME=value" sets, "-NAME" removes). Standard output and standard
  // error both go to the collected text.
  Child_Process(const std::vector<std::string>& argv, const std::vector<std::string>& env);
  ~Child_Process();  // kills and reaps a child still running
  Child_Process(const Child_Process&) = delete;
  Child_Process& operator=(const Child_Process&) = delete;

  pid_t pid() const { return pid_; }
  // True once `text` occurs in the output at least `count` times; false
  // when the deadline passes or the output ends first.
  bool wait_for(const std::string& text, int count = 1,
                std::chrono::milliseconds deadline = std::chrono::seconds(20));
  int count(const std::string& text);  // occurrences of `text` so far
  std::string output();
  void signal(int sig);
  // Waits for the child to end: its wait status, or -1 after the deadline
  // (the child is then killed).
  int wait_exit(std::chrono::milliseconds deadline = std::chrono::seconds(20));
  // wait_exit() as a shell reports it: the exit code, 128 + the signal
  // that ended the child, or -1 after the deadline.
  int exit_code(std::chrono::milliseconds deadline = std::chrono::seconds(20));
  // True once the child has ended (without waiting); wait_exit() and
  // exit_code() then give its status at once.
  bool exited();
  int thread_count() const;  // entries of /proc/PID/task

 private:
  void read_loop(int fd);

  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  std::thread reader_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::string text_;  // guarded by lock_
  bool eof_ = false;  // guarded by lock_
};

// How often `what` occurs in `text`.
int occurrences(const std::string& text, const std::string& what);

// Path of a built program or library below the build tree.
std::string built_program(const char* name);
std::string built_library(const char* name);

// A bound datagram socket standing in for systemd's notification socket.
class Notify_Socket {
 public:
  explicit Notify_Socket(const std::string& path);
  ~Notify_Socket();
  bool bound() const { return bound_; }
  std::string next();  // the next datagram, or "" after a 10 s timeout
  bool empty();        // takes a waiting datagram; true when there was none

 private:
  int fd_ = -1;
  bool bound_ = false;
};

}  // namespace test_support

#endif
