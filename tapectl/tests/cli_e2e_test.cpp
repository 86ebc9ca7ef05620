// tapectl as a process against the demo daemon (scripts/demo on the
// emulated sample library, with a bearer token): every subcommand, --json
// equal to the route's reply, exit statuses, an unreachable daemon, the
// token; and a failed load explained in the log, counted in the metrics
// and shown by tapectl status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "websvcs/controller/tapectl/tests/e2e_support.h"

namespace {

const char SERIAL[] = "EMU-LIB-0001";
const char DRIVE_1[] = "EMU-DRV-0001";
const char DRIVE_2[] = "EMU-DRV-0002";
const char TOKEN[] = "tapectl-e2e-token-0123456789";

struct Cli_Run {
  int status = -1;
  std::string out;
  std::string err;
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class Tapectl_E2E : public Temp_Dir {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(Temp_Dir::SetUp());
    token_file_ = dir_ + "/token";
    std::ofstream(token_file_) << TOKEN << "\n";
    ASSERT_NO_FATAL_FAILURE(start());
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGINT);
      int status = 0;
      for (int i = 0; i < 600 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (::waitpid(pid_, &status, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
      }
    }
    Temp_Dir::TearDown();
  }

  // scripts/demo with the token, waited for until tapectl reaches it.
  void start() {
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = tapectl_test::free_loopback_port();
      const std::string script = std::string(D2T_SOURCE_DIR) + "/scripts/demo";
      const std::string port = std::to_string(port_);
      pid_ = ::fork();
      ASSERT_GE(pid_, 0);
      if (pid_ == 0) {
        const int fd = ::open(log_file().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        ::execl("/bin/bash", "bash", script.c_str(), "--no-build", "--build-dir", D2T_BINARY_DIR,
                "--dir", (dir_ + "/run").c_str(), "--port", port.c_str(), "--token-file",
                token_file_.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
      }
      for (int i = 0; i < 1800; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
          pid_ = -1;
          break;  // exited (port taken): another port
        }
        if (tapectl("libraries").status == 0) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      if (pid_ > 0) FAIL() << "the daemon did not answer:\n" << read_file(log_file());
    }
    FAIL() << "the daemon did not start:\n" << read_file(log_file());
  }

  std::string log_file() const { return dir_ + "/daemon.log"; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // tapectl with the daemon's URL and token, then `args`.
  Cli_Run tapectl(const std::string& args, const std::string& input = "") {
    return raw("--url " + url() + " --token-file " + quote(token_file_) + " " + args, input);
  }
  Cli_Run raw(const std::string& args, const std::string& input = "") {
    Cli_Run r;
    const std::string err = dir_ + "/stderr";
    const std::string in = dir_ + "/stdin";
    std::ofstream(in) << input;
    r.out = tapectl_test::run_command(std::string(D2T_BINARY_DIR) + "/bin/tapectl " + args + " <" +
                                          quote(in) + " 2>" + quote(err),
                                      r.status);
    r.err = read_file(err);
    return r;
  }
  // The route's reply body, fetched with the token.
  std::string route(const std::string& target) {
    Test_Socket s(static_cast<unsigned>(port_));
    s.send_all("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + TOKEN +
               "\r\nConnection: close\r\n\r\n");
    return parse_reply(s.read_all()).body;
  }

  std::string token_file_;
  int port_ = 0;
  pid_t pid_ = -1;
};

TEST_F(Tapectl_E2E, EverySubcommandExitStatusAndJson) {
  // A rescan moves cartridges: it asks first.
  Cli_Run r = tapectl(std::string("rescan ") + SERIAL, "n\n");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("MOVES CARTRIDGES")) << r.err;
  r = tapectl(std::string("rescan ") + SERIAL, "y\n");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(std::string("Library ") + SERIAL)) << r.out;

  r = tapectl("status");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(DRIVE_1)) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("26 slots:")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find('\033')) << "colour on a pipe";
  r = tapectl("status NO-SUCH-LIBRARY");
  EXPECT_EQ(1, r.status);

  // --json is the route's reply as it is, for every read.
  const std::pair<const char*, std::string> reads[] = {
      {"status --json", "/d2/r/tapectl/inventory"},
      {"--json status EMU-LIB-0001", "/d2/r/tapectl/inventory?serial_number=EMU-LIB-0001"},
      {"libraries --json", "/d2/r/tapectl/info"},
      {"ops --json", "/d2/r/tapectl/operations"},
  };
  for (const auto& read : reads) {
    r = tapectl(read.first);
    EXPECT_EQ(0, r.status) << read.first << ": " << r.err;
    EXPECT_EQ(route(read.second) + "\n", r.out) << read.first;
  }
  r = tapectl("libraries");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find(SERIAL));
  r = tapectl("ops");
  EXPECT_EQ(0, r.status) << r.err;

  // Moves: load, a refused load (the cartridge is in the other drive),
  // unload, a slot-to-slot move, refresh.
  r = tapectl(std::string("load ") + DRIVE_1 + " A00001L9");
  ASSERT_EQ(0, r.status) << r.err;
  r = tapectl("status");
  EXPECT_NE(std::string::npos, r.out.find("*d")) << r.out;  // its home slot points at the drive
  r = tapectl(std::string("load ") + DRIVE_2 + " A00001L9");
  EXPECT_EQ(1, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.err.find("the daemon answered 500")) << r.err;
  EXPECT_EQ(0, tapectl(std::string("unload ") + DRIVE_1).status);
  r = tapectl(std::string("move ") + SERIAL + " A00002L9 2 11 --json");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("\"slot_number\":11")) << r.out;
  r = tapectl(std::string("move ") + SERIAL + " A00002L9 2 11");  // slot 2 is empty now
  EXPECT_EQ(1, r.status);
  EXPECT_FALSE(r.err.empty());
  r = tapectl(std::string("refresh ") + SERIAL);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(" 11  A00002L9")) << r.out;

  // Usage, help, token and reachability.
  EXPECT_EQ(2, tapectl("load").status);
  EXPECT_EQ(2, tapectl("frobnicate").status);
  EXPECT_EQ(2, tapectl("status --timeout x").status);
  r = raw("--help");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("Exit status"));
  r = raw("unload --help");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("tapectl unload DRIVE"));
  r = raw("--url " + url() + " status");  // no token
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("401")) << r.err;
  r = raw("status --url http://127.0.0.1:" + std::to_string(tapectl_test::free_loopback_port()));
  EXPECT_EQ(3, r.status);
  EXPECT_NE(std::string::npos, r.err.find("cannot reach")) << r.err;
}

// A load whose mount the library keeps refusing: the log says which
// cartridge, drive and sense; the metrics count a failed load; status
// shows the drive's failure.
TEST_F(Tapectl_E2E, FailedLoadIsExplainedCountedAndShown) {
  ASSERT_EQ(0, tapectl(std::string("rescan --yes ") + SERIAL).status);
  const std::string library_file = dir_ + "/run/library.json";
  json_spirit::Value lib;
  ASSERT_TRUE(json_spirit::load_json(library_file, lib));
  json_spirit::Value faults;
  ASSERT_TRUE(json_spirit::read(
      std::string(R"([{"op": "mount", "drive": ")") + DRIVE_2 + R"(", "times": 100}])", faults));
  lib.get_obj()["changers"].get_array()[0].get_obj()["faults"] = faults;
  std::ofstream(library_file + ".tmp") << json_spirit::write(lib);
  ASSERT_EQ(0, std::rename((library_file + ".tmp").c_str(), library_file.c_str()));

  Cli_Run r = tapectl(std::string("load ") + DRIVE_2 + " A00003L9");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Failed to load media")) << r.err;

  const std::string log = read_file(log_file());
  const std::string::size_type line = log.find("Failed to load cartridge A00003L9");
  ASSERT_NE(std::string::npos, line) << log;
  const std::string said = log.substr(line, log.find('\n', line) - line);
  EXPECT_NE(std::string::npos, said.find(std::string("drive ") + DRIVE_2)) << said;
  EXPECT_NE(std::string::npos, said.find("sense ABORTED COMMAND")) << said;
  EXPECT_NE(std::string::npos, said.find("(0B/00/00)")) << said;

  const std::string metrics = route("/metrics");
  EXPECT_NE(std::string::npos, metrics.find(std::string("d2t_moves_total{library=\"") + SERIAL +
                                            "\",kind=\"load\",result=\"failed\"} 1\n"))
      << metrics;
  EXPECT_NE(
      std::string::npos,
      metrics.find("d2t_http_requests_total{route=\"/d2/r/tapectl/drive/load\",code=\"500\"} 1\n"))
      << metrics;

  r = tapectl(std::string("status --json ") + SERIAL);
  EXPECT_NE(std::string::npos, r.out.find(std::string("\"serial_number\":\"") + DRIVE_2 +
                                          "\",\"lun\":0,\"target_name\":\"3:0:1\""))
      << r.out;
  json_spirit::Value inv;
  ASSERT_TRUE(json_spirit::read(r.out, inv)) << r.out;
  for (const auto& d : inv.get_array()[0].get_obj().at("drives").get_array())
    EXPECT_EQ(d.get_obj().at("serial_number").get_str() == DRIVE_2 ? 1 : 0,
              d.get_obj().at("failures").get_int());
  r = tapectl("status");
  EXPECT_NE(std::string::npos, r.out.find(std::string(DRIVE_2) + "  /dev/st0  -          -     1 "))
      << r.out;
}

}  // namespace
