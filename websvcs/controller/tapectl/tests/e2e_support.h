// Support for the end-to-end tests: the demo daemon as a child process,
// and the three views of one emulated library (the web replies, the SQLite
// inventory read with sqlite3, the emulator read with mtx through the
// preload library).
#ifndef WEBSVCS_CONTROLLER_TAPECTL_TESTS_E2E_SUPPORT_H
#define WEBSVCS_CONTROLLER_TAPECTL_TESTS_E2E_SUPPORT_H

#include <sys/types.h>

#include <map>
#include <string>

#include "websvcs/server/tests/support.h"

namespace tapectl_test {

using ::Http_Reply;
using ::http_request;

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0,
// read back, released).
int free_loopback_port();

// scripts/demo --no-build on the test's build tree, run as a child
// process (it execs starter, so the child is the daemon). Killed when
// destroyed if still running.
class Demo_Daemon {
 public:
  Demo_Daemon(const std::string& dir, int port) : dir_(dir), port_(port) {}
  ~Demo_Daemon();
  Demo_Daemon(const Demo_Daemon&) = delete;
  Demo_Daemon& operator=(const Demo_Daemon&) = delete;

  // Starts the daemon and waits (up to `deadline_seconds`) until it
  // answers the info request. False with `error` set otherwise. When the
  // web service cannot listen (its port was taken meanwhile) the daemon
  // is tried again on another free port; port() tells the one in use.
  bool start(std::string& error, int deadline_seconds = 180);
  // SIGINT, then waits for the exit; the exit status (-1 when it had to be
  // killed, -2 when it was not running).
  int stop(int deadline_seconds = 180);
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }  // the daemon's process (scripts/demo execs it)

  int port() const { return port_; }
  const std::string& dir() const { return dir_; }
  std::string log_text() const;  // what the daemon wrote to its log

  Http_Reply get(const std::string& target) const { return http_request(port_, "GET", target); }
  Http_Reply post(const std::string& target, const std::string& body) const {
    return http_request(port_, "POST", target, body);
  }

 private:
  bool start_once(std::string& error, int deadline_seconds, bool& exited);
  void kill_now();  // SIGKILL and reap; not running afterwards

  std::string dir_;
  int port_;
  pid_t pid_ = -1;
};

// Slot number -> tag ("" for a cartridge without label); empty slots are
// absent. Drives: drive number -> slot whose cartridge it holds.
struct Library_View {
  bool ok = false;
  std::string error;
  std::map<int, std::string> slots;
  std::map<int, int> drives;
};

// What `mtx -f <changer_sg> status` says, run with the preload library and
// D2T_EMULATOR=<library_file>.
Library_View mtx_view(const std::string& library_file, const std::string& changer_sg);
// What the SQLite inventory holds for the changer `serial` (tables read
// with the sqlite3 command-line tool). Slots with a NULL or "" tag are
// absent; drives with a NULL slot too.
Library_View sqlite_view(const std::string& db_file, const std::string& serial);

// Runs a shell command; its standard output, and its exit status in
// `status`.
std::string run_command(const std::string& command, int& status);
// True when `program` is found on PATH.
bool have_program(const std::string& program);

}  // namespace tapectl_test

#endif
