// Reload under load: the daemon on an emulated library whose moves take
// about a second, four clients loading, unloading and transferring, and
// SIGHUP five times meanwhile. Every request that reached the daemon is
// answered, the daemon survives (also under AddressSanitizer, where a use
// of a freed controller aborts it), inventory and emulator agree
// afterwards, and a media_controller.conf change made before the last
// SIGHUP is in effect.
//
// The port stays open through every reload: no connection is refused. A
// reload with a broken web.conf, or one whose port is taken, changes
// nothing: the old service answers on, the log says why, and a later good
// reload works.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "tests/system/system_support.h"

using json_spirit::Value;
using namespace system_test;

namespace {

// Tallies of one client.
struct Tally {
  int sent = 0;      // requests written to a connected socket
  int answered = 0;  // ... that got an HTTP reply
  int ok = 0;        // ... with status 200
  int refused = 0;   // connections refused (port closed during a reload)
};

// One request; false when the connection was refused (nothing was sent).
bool request(int port, const std::string& method, const std::string& target,
             const std::string& body, Tally& t) {
  Test_Socket s(static_cast<unsigned>(port), 300);
  if (!s.ok()) {
    ++t.refused;
    return false;
  }
  std::string req = method + " " + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n";
  if (method == "POST") {
    req +=
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  }
  req += "\r\n" + body;
  if (!s.send_all(req)) {
    ++t.refused;  // reset before the request went out
    return false;
  }
  ++t.sent;
  const Http_Reply r = parse_reply(s.read_all());
  if (r.status != 0) ++t.answered;
  if (r.status == 200) ++t.ok;
  return true;
}

// Sends `method target body` until it reaches the daemon once.
void send_once(int port, const std::string& method, const std::string& target,
               const std::string& body, Tally& t, const std::atomic<bool>& give_up) {
  while (!request(port, method, target, body, t) && !give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Slots and the home slots of the loaded cartridges (the emulator and the
// inventory may number drives differently).
std::string describe_homes(const Library_View& v) {
  std::ostringstream out;
  for (const auto& s : v.slots) out << s.first << "=" << s.second << " ";
  out << "| loaded from ";
  std::vector<int> homes;
  for (const auto& d : v.drives) homes.push_back(d.second);
  std::sort(homes.begin(), homes.end());
  for (int h : homes) out << h << " ";
  return out.str();
}

// The sample library with moves of about a second.
void write_library(const std::string& path) {
  Value lib;
  ASSERT_TRUE(json_spirit::load_json(
      std::string(D2T_SOURCE_DIR) + "/d2t/emulator/samples/library.json", lib, 1));
  json_spirit::Object timing;
  timing["move_ms"] = 700;
  timing["load_ms"] = 300;
  timing["unload_ms"] = 300;
  lib.get_obj()["timing"] = timing;
  ASSERT_TRUE(write_file(path, json_spirit::write(lib)));
}

// A socket listening on 127.0.0.1:port for as long as it lives.
class Test_Listener {
 public:
  explicit Test_Listener(unsigned port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 &&
        (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 1) != 0)) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~Test_Listener() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

class Reload_Test : public Temp_Dir {};

TEST_F(Reload_Test, FiveHangupsUnderFourClients) {
  const std::string run = dir_ + "/run";
  ASSERT_EQ(0, ::mkdir(run.c_str(), 0755));
  ASSERT_NO_FATAL_FAILURE(write_library(run + "/library.json"));
  const std::string conf = run + "/media_controller.conf";
  ASSERT_TRUE(write_file(
      conf, R"({"max_wait_seconds": 30, "load_unload_retries": 1, "drive_faulty_threshold": 3})"));

  Demo_Daemon d(run, free_loopback_port());
  std::string error;
  ASSERT_TRUE(d.start(error)) << error;
  ASSERT_EQ(200, d.get(std::string("/d2/r/tapectl/list?serial_number=") + SERIAL).status);

  // Clients: two drives each loading and unloading their own cartridge,
  // two transfers between their own slots.
  std::atomic<bool> stop(false), give_up(false);
  std::vector<Tally> tallies(4);
  std::vector<std::thread> clients;
  const int port = d.port();
  const char* drives[2] = {"EMU-DRV-0001", "EMU-DRV-0002"};
  const char* drive_tags[2] = {"A00001L9", "A00002L9"};
  for (int i = 0; i < 2; ++i) {
    clients.emplace_back([&, i] {
      while (!stop) {
        send_once(port, "POST", "/d2/r/tapectl/drive/load", drive_body(drives[i], drive_tags[i]),
                  tallies[i], give_up);
        send_once(port, "POST", "/d2/r/tapectl/drive/unload", drive_body(drives[i]), tallies[i],
                  give_up);
      }
    });
  }
  const char* moved_tags[2] = {"A00003L9", "A00004L9"};
  const int homes[2] = {3, 4}, aways[2] = {20, 21};
  for (int i = 0; i < 2; ++i) {
    clients.emplace_back([&, i] {
      Tally& t = tallies[2 + i];
      while (!stop) {
        send_once(port, "POST", "/d2/r/tapectl/media/transfer",
                  transfer_body(SERIAL, moved_tags[i], homes[i], aways[i]), t, give_up);
        send_once(port, "POST", "/d2/r/tapectl/media/transfer",
                  transfer_body(SERIAL, moved_tags[i], aways[i], homes[i]), t, give_up);
      }
    });
  }

  // Five reloads while the clients run; the threshold changes before the
  // last one.
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    if (i == 4) {
      ASSERT_TRUE(write_file(
          conf,
          R"({"max_wait_seconds": 30, "load_unload_retries": 1, "drive_faulty_threshold": 1})"));
    }
    ASSERT_EQ(0, ::kill(d.pid(), SIGHUP));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  stop = true;
  // A client still retrying a refused connection after the daemon is gone
  // would spin for ever.
  std::thread watchdog([&] {
    for (int i = 0; i < 3000 && !give_up; ++i) {
      if (::kill(d.pid(), 0) != 0) give_up = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    give_up = true;
  });
  for (std::thread& c : clients) c.join();
  give_up = true;
  watchdog.join();

  ASSERT_EQ(0, ::kill(d.pid(), 0)) << "the daemon died:\n" << d.log_text();
  int sent = 0, ok = 0;
  for (size_t i = 0; i < tallies.size(); ++i) {
    const Tally& t = tallies[i];
    EXPECT_EQ(t.sent, t.answered) << "client " << i << ": requests without a reply";
    EXPECT_EQ(0, t.refused) << "client " << i << ": connections refused during a reload";
    sent += t.sent;
    ok += t.ok;
    std::printf("client %zu: sent %d, answered %d, ok %d, refused connections %d\n", i, t.sent,
                t.answered, t.ok, t.refused);
  }
  EXPECT_GT(ok, 8) << "too little work got done";
  const std::string log = d.log_text();
  EXPECT_EQ(5u, [&] {
    size_t n = 0;
    for (size_t p = 0; (p = log.find("Signal 1 (Hangup) caught", p)) != std::string::npos; ++p) ++n;
    return n;
  }()) << log;

  // Inventory and emulated library agree.
  const Library_View emu = mtx_view(run + "/library.json", CHANGER_SG);
  ASSERT_TRUE(emu.ok) << emu.error;
  const Library_View db = sqlite_view(run + "/state/media_controller.db", SERIAL);
  ASSERT_TRUE(db.ok) << db.error;
  EXPECT_EQ(describe_homes(emu), describe_homes(db));

  // The threshold of 1 read by the last reload: the first counted failure
  // makes the drive faulty (3 would leave it at one failure).
  ASSERT_NO_FATAL_FAILURE(
      set_changer_key(run + "/library.json", "faults",
                      R"([{"op": "mount", "drive": "EMU-DRV-0002", "times": 1000}])"));
  const Http_Reply r = d.post("/d2/r/tapectl/drive/load", drive_body("EMU-DRV-0002", "A00005L9"));
  EXPECT_EQ(500, r.status) << r.body;
  EXPECT_NE(std::string::npos, r.body.find("\"faulty\":true")) << r.body;
  ASSERT_NO_FATAL_FAILURE(set_changer_key(run + "/library.json", "faults", "[]"));

  // Reloads that fail: web.conf broken, then its port taken by another
  // socket. The old service keeps answering on the old port.
  const std::string web_conf = run + "/web.conf";
  const std::string good = read_file(web_conf);
  const int other_port = free_loopback_port();
  Test_Listener taken(static_cast<unsigned>(other_port));
  ASSERT_TRUE(taken.ok());
  const std::string on_taken_port = std::regex_replace(good, std::regex("\"port\"\\s*:\\s*[0-9]+"),
                                                       "\"port\": " + std::to_string(other_port));
  ASSERT_NE(good, on_taken_port);
  int failed = 0;
  for (const std::string& bad : {std::string("{ not json"), on_taken_port}) {
    ASSERT_TRUE(write_file(web_conf, bad));
    ASSERT_EQ(0, ::kill(d.pid(), SIGHUP));
    ++failed;
    for (int i = 0; i < 100 && d.log_text().find("Reload failed") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(200, d.get("/d2/r/tapectl/info").status) << bad;
  }
  const std::string after = d.log_text();
  EXPECT_NE(std::string::npos, after.find("Failed to start the web service")) << after;
  EXPECT_NE(std::string::npos, after.find("cannot listen on")) << after;
  ASSERT_TRUE(write_file(web_conf, good + "\n"));
  ASSERT_EQ(0, ::kill(d.pid(), SIGHUP));
  for (int i = 0; i < 100 && d.log_text().find("Reload done: 1 service(s) kept, 1 replaced by 1") ==
                                 std::string::npos;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(std::string::npos, d.log_text().find("Reload done: 1 service(s) kept, 1 replaced by 1"))
      << d.log_text();
  EXPECT_EQ(200, d.get("/d2/r/tapectl/info").status);

  EXPECT_EQ(0, d.stop()) << d.log_text();
  std::printf("%d requests sent during five reloads\n", sent);
}

}  // namespace
