// Support for the system tests: the whole daemon (scripts/demo: starter
// with the tape controller and its web service on an emulated library) as
// a child process, HTTP calls and tapectl runs against it, and the views
// of one emulated library that must agree (the web replies, the SQLite
// inventory read with sqlite3, the emulator read with mtx through the
// preload library).
#ifndef TESTS_SYSTEM_SYSTEM_SUPPORT_H
#define TESTS_SYSTEM_SYSTEM_SUPPORT_H

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "json_spirit/json_spirit.h"
#include "testing/child_process.h"
#include "websvcs/server/tests/support.h"

namespace system_test {

// The sample library of scripts/demo: its changer, its device and drives.
extern const char SERIAL[];      // "EMU-LIB-0001"
extern const char CHANGER_SG[];  // "/dev/sg10"
extern const char DRIVE_1[];     // "EMU-DRV-0001"
extern const char DRIVE_2[];     // "EMU-DRV-0002"

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0,
// read back, released); 0 when none could be bound.
int free_loopback_port();

// What a run of tapectl gave.
struct Cli_Run {
  int status = -1;  // exit status as run_command() gives it
  std::string out;
  std::string err;
};

// scripts/demo --no-build on the test's build tree, run as a child
// process (it execs starter, so the child is the daemon). Its output goes
// to `dir` + ".log". Killed when destroyed if still running.
class Demo_Daemon {
 public:
  // `port` 0: a free one. `token_file` non-empty: the daemon requires that
  // bearer token, and every request and tapectl run below sends it.
  explicit Demo_Daemon(const std::string& dir, int port = 0, const std::string& token_file = "");
  ~Demo_Daemon();
  Demo_Daemon(const Demo_Daemon&) = delete;
  Demo_Daemon& operator=(const Demo_Daemon&) = delete;

  // Starts the daemon and waits (up to `deadline_seconds`) until it
  // answers the info request with 200. False with `error` set otherwise.
  // When the web service cannot listen (its port was taken meanwhile) the
  // daemon is tried again on another free port; port() tells the one in
  // use.
  bool start(std::string& error, int deadline_seconds = 180);
  // SIGINT, then waits for the exit; the exit status (-1 when it had to be
  // killed, -2 when it was not running).
  int stop(int deadline_seconds = 180);
  // More arguments for scripts/demo (e.g. "--database", URL), set before
  // start().
  void extra_args(const std::vector<std::string>& args) { extra_args_ = args; }
  bool running() const { return daemon_ != nullptr; }
  // The daemon's process (scripts/demo execs it); -1 when not running.
  pid_t pid() const { return daemon_ ? daemon_->pid() : -1; }

  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  const std::string& dir() const { return dir_; }
  std::string library_file() const { return dir_ + "/library.json"; }
  std::string db_file() const { return dir_ + "/state/media_controller.db"; }
  std::string log_text() const;  // what the daemon wrote to its log

  // One request with "Connection: close" (and the token, if any).
  Http_Reply request(const std::string& method, const std::string& target,
                     const std::string& body = "") const;
  Http_Reply get(const std::string& target) const { return request("GET", target); }
  Http_Reply post(const std::string& target, const std::string& body) const {
    return request("POST", target, body);
  }
  // build/bin/tapectl --url <this daemon> [--token-file F] `args`, with
  // `input` on its standard input.
  Cli_Run tapectl(const std::string& args, const std::string& input = "") const;

 private:
  bool start_once(std::string& error, int deadline_seconds, bool& exited);
  std::string auth_header() const;

  std::string dir_;
  int port_;
  std::string token_;  // read from the token file; "" for none
  std::string token_file_;
  std::unique_ptr<test_support::Child_Process> daemon_;  // killed when dropped
  std::vector<std::string> extra_args_;
};

// tapectl with exactly `args` (no URL or token added).
Cli_Run run_tapectl(const std::string& args, const std::string& input = "");

// Slot number -> tag ("" for a cartridge without label); empty slots are
// absent. Drives: drive number -> slot whose cartridge it holds.
struct Library_View {
  bool ok = false;
  std::string error;
  std::map<int, std::string> slots;
  std::map<int, int> drives;
  // Every drive as "number:serial:dev_name:sg_name " in drive number order
  // (the inventory and the replies; not mtx), and the host each stored
  // drive is attached to (replies that name it).
  std::string drive_names;
  std::map<std::string, std::string> drive_hosts;
};
// "slot=tag ... | drives n<-slot ..." for comparing views in one line.
std::string describe(const Library_View& v);

// "LD_PRELOAD=<the preload library> D2T_EMULATOR=<library_file> ": the
// start of a shell command whose program sees the emulated library.
std::string preload_env(const std::string& library_file);
// What `mtx -f <changer_sg> status` says, run with the preload library and
// D2T_EMULATOR=<library_file>. A cartridge in a drive counts for its home
// slot.
Library_View mtx_view(const std::string& library_file, const std::string& changer_sg);
// What the SQLite inventory holds for the changer `serial` (tables read
// with the sqlite3 command-line tool). Slots with a NULL or "" tag are
// absent; drives with a NULL slot too.
Library_View sqlite_view(const std::string& db_file, const std::string& serial);

// The view one library object of a list, inventory or refresh reply
// gives (a cartridge in a drive counts for its home slot).
Library_View reply_view(const json_spirit::Object& library);
// The view of library `serial` in the reply to GET /d2/r/tapectl/`route`
// ("list", "inventory", "changer/refresh") ?serial_number=`serial`; not ok,
// the reply in `error`, unless it answers 200 with that one library.
Library_View library_reply(const Demo_Daemon& d, const std::string& route,
                           const std::string& serial = SERIAL);

// Sets key `key` of the first changer of an emulated library file to the
// JSON `value_json` (e.g. "faults", "dvcid"), replacing the file in one
// rename; a running daemon picks it up. Test assertions on failure.
void set_changer_key(const std::string& library_file, const std::string& key,
                     const std::string& value_json);

// The library file of one host sharing the emulated library EMU-LIB-0001
// (sg /dev/sg10, 12 slots, DVCID t10) with others: four drives
// EMU-DRV-0001..4 (/dev/sg11..14, /dev/st0..3), drive n attached here when
// bit n-1 of `attached` is set; cartridges A00001L9..A00008L9 in slots
// 1..8; the state file "../library.state", shared by every host's file
// kept in a sibling folder. Moves take `move_ms`, loads and unloads
// `drive_ms`.
std::string shared_library_json(unsigned attached, int move_ms, int drive_ms);

// Request bodies of the drive and transfer routes.
std::string drive_body(const std::string& drive, const std::string& tag = "");
std::string transfer_body(const std::string& changer, const std::string& tag, int from, int to);
// The reply's body as JSON (null when it is not JSON), and its "message".
json_spirit::Value parse_body(const Http_Reply& r);
std::string message_of(const Http_Reply& r);

// Runs a shell command (killed after 5 minutes); its output (standard
// output and error), and its exit status in `status` (128 + the signal
// that ended it, -1 when it had to be killed).
std::string run_command(const std::string& command, int& status);
// `s` as one single-quoted shell word.
std::string shell_quote(const std::string& s);
// Files read whole, and written through a temporary file and a rename.
using test_support::read_file;
using test_support::write_file;

}  // namespace system_test

#endif
