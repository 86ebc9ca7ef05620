// The whole daemon on the sample emulated library, driven as an operator
// drives it (tapectl, with a bearer token) and as the backup software does
// (HTTP): every subcommand, --json equal to the route's reply, exit
// statuses; after every move the web reply, the SQLite inventory and the
// emulated library (mtx) agree; refused requests, also cross-site ones,
// move nothing; a failed load is explained in the log, counted in the
// metrics and shown by tapectl status; a restart resumes the inventory and
// the cartridges' positions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "tests/system/system_support.h"

using json_spirit::Value;
using namespace system_test;

namespace {

const char TOKEN[] = "system-test-token-0123456789";

// Web reply, inventory and emulator tell the same story.
void expect_three_views_agree(const Demo_Daemon& d) {
  const Library_View web = library_reply(d, "changer/refresh");
  ASSERT_TRUE(web.ok) << web.error;
  const Library_View db = sqlite_view(d.db_file(), SERIAL);
  ASSERT_TRUE(db.ok) << db.error;
  EXPECT_EQ(describe(web), describe(db)) << "web reply and inventory differ";
  const Library_View mtx = mtx_view(d.library_file(), CHANGER_SG);
  ASSERT_TRUE(mtx.ok) << mtx.error;
  EXPECT_EQ(describe(web), describe(mtx)) << "web reply and emulated library differ";
}

class Daemon_Test : public Temp_Dir {
 protected:
  std::string run_dir() const { return dir_ + "/run"; }
  std::string token_file() {
    const std::string path = dir_ + "/token";
    std::ofstream(path) << TOKEN << "\n";
    chmod(path.c_str(), 0600);  // the daemon refuses a token others can read
    return path;
  }

  std::string error_;
};

TEST_F(Daemon_Test, OperatorSessionWithTapectl) {
  Demo_Daemon d(run_dir(), 0, token_file());
  ASSERT_TRUE(d.start(error_)) << error_;

  // A rescan moves cartridges: it asks first.
  Cli_Run r = d.tapectl(std::string("rescan ") + SERIAL, "n\n");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("MOVES CARTRIDGES")) << r.err;
  r = d.tapectl(std::string("rescan ") + SERIAL, "y\n");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(std::string("Library ") + SERIAL)) << r.out;
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));

  r = d.tapectl("status");
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(DRIVE_1)) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("26 slots:")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find('\033')) << "colour on a pipe";
  EXPECT_EQ(1, d.tapectl("status NO-SUCH-LIBRARY").status);

  // Refused moves move nothing: a broken body, one above the configured
  // limit, and what a web page could make a local browser send, cross-site
  // (a foreign Origin, or none but the browser saying who asks) and DNS
  // rebinding (a foreign Host), refused before any handler runs. (Routing,
  // methods, bodies, origins and hosts row by row: the web service's tests.)
  const Library_View before = mtx_view(d.library_file(), CHANGER_SG);
  const std::string transfer = transfer_body(SERIAL, "A00002L9", 2, 11);
  Http_Reply refused = d.post("/d2/r/tapectl/media/transfer", transfer.substr(0, 30));
  EXPECT_EQ(400, refused.status) << refused.body;
  EXPECT_EQ(0u, message_of(refused).find("Malformed JSON body")) << refused.body;
  const std::string big = "{\"x\": \"" + std::string(2 * 1024 * 1024, 'a') + "\"}";
  EXPECT_EQ(413, d.post("/d2/r/tapectl/media/transfer", big).status);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(d.port()) + "\r\n";
  const std::string foreign[][3] = {
      {"media/transfer", transfer, host + "Origin: http://evil.example.com\r\n"},
      {"drive/load", drive_body(DRIVE_1, "A00001L9"), host + "Origin: http://evil.example.com\r\n"},
      {"drive/load", drive_body(DRIVE_1, "A00001L9"), host + "Sec-Fetch-Site: cross-site\r\n"},
      {"media/transfer", transfer, "Host: evil.example.com:" + std::to_string(d.port()) + "\r\n"},
  };
  for (const auto& row : foreign) {
    Test_Socket s(static_cast<unsigned int>(d.port()));
    ASSERT_TRUE(s.send_all("POST /d2/r/tapectl/" + row[0] + " HTTP/1.1\r\n" + row[2] +
                           "Authorization: Bearer " + TOKEN +
                           "\r\nConnection: close\r\nContent-Type: text/plain\r\nContent-Length: " +
                           std::to_string(row[1].size()) + "\r\n\r\n" + row[1]));
    EXPECT_EQ(403, parse_reply(s.read_all()).status) << row[0] << " " << row[2];
  }
  EXPECT_EQ(describe(before), describe(mtx_view(d.library_file(), CHANGER_SG)));
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));

  // --json is the route's reply as it is, for every read.
  const std::pair<const char*, std::string> reads[] = {
      {"status --json", "/d2/r/tapectl/inventory"},
      {"--json status EMU-LIB-0001", "/d2/r/tapectl/inventory?serial_number=EMU-LIB-0001"},
      {"libraries --json", "/d2/r/tapectl/info"},
      {"ops --json", "/d2/r/tapectl/operations"},
  };
  for (const auto& read : reads) {
    r = d.tapectl(read.first);
    EXPECT_EQ(0, r.status) << read.first << ": " << r.err;
    EXPECT_EQ(d.get(read.second).body + "\n", r.out) << read.first;
  }
  r = d.tapectl("libraries");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find(SERIAL));

  // Moves: load, a refused load (the cartridge is in the other drive),
  // unload, a slot-to-slot move (its reply as the route gives it), a move
  // from the slot it left, refresh.
  r = d.tapectl(std::string("load ") + DRIVE_1 + " A00001L9");
  ASSERT_EQ(0, r.status) << r.err;
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));
  r = d.tapectl(std::string("load ") + DRIVE_2 + " A00001L9");
  EXPECT_EQ(1, r.status) << r.out;
  EXPECT_NE(std::string::npos, r.err.find("the daemon answered 500")) << r.err;
  EXPECT_EQ(0, d.tapectl(std::string("unload ") + DRIVE_1).status);
  r = d.tapectl(std::string("move ") + SERIAL + " A00002L9 2 11 --json");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("{\"is_porter\":false,\"media_tag\":\"A00002L9\",\"slot_number\":11}\n", r.out);
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));
  r = d.tapectl(std::string("move ") + SERIAL + " A00002L9 2 11");  // slot 2 is empty now
  EXPECT_EQ(1, r.status);
  EXPECT_FALSE(r.err.empty());
  r = d.tapectl(std::string("refresh ") + SERIAL);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find(" 11  A00002L9")) << r.out;

  // A load whose mount the library keeps refusing: the log says which
  // cartridge, drive and sense; the metrics count a failed load; status
  // shows the drive's failure.
  ASSERT_NO_FATAL_FAILURE(set_changer_key(
      d.library_file(), "faults",
      std::string(R"([{"op": "mount", "drive": ")") + DRIVE_2 + R"(", "times": 100}])"));
  r = d.tapectl(std::string("load ") + DRIVE_2 + " A00003L9");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Failed to load media")) << r.err;
  ASSERT_NO_FATAL_FAILURE(set_changer_key(d.library_file(), "faults", "[]"));
  const std::string log = d.log_text();
  const std::string::size_type line = log.find("Failed to load cartridge A00003L9");
  ASSERT_NE(std::string::npos, line) << log;
  const std::string said = log.substr(line, log.find('\n', line) - line);
  EXPECT_NE(std::string::npos, said.find(std::string("drive ") + DRIVE_2)) << said;
  EXPECT_NE(std::string::npos, said.find("sense ABORTED COMMAND")) << said;
  EXPECT_NE(std::string::npos, said.find("(0B/00/00)")) << said;
  const std::string metrics = d.get("/metrics").body;
  EXPECT_NE(std::string::npos, metrics.find(std::string("d2t_moves_total{library=\"") + SERIAL +
                                            "\",kind=\"load\",result=\"failed\"} 1\n"))
      << metrics;
  // Two loads answered 500: the refused one above and this one.
  EXPECT_NE(
      std::string::npos,
      metrics.find("d2t_http_requests_total{route=\"/d2/r/tapectl/drive/load\",code=\"500\"} 2\n"))
      << metrics;
  r = d.tapectl(std::string("status --json ") + SERIAL);
  Value inv;
  ASSERT_TRUE(json_spirit::read(r.out, inv)) << r.out;
  for (const auto& drive : inv.get_array()[0].get_obj().at("drives").get_array())
    EXPECT_EQ(drive.get_obj().at("serial_number").get_str() == DRIVE_2 ? 1 : 0,
              drive.get_obj().at("failures").get_int());
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));

  // The program's own exits (the options and outcomes themselves are
  // tapectl's cli_test's): usage, help, and a request without the token.
  EXPECT_EQ(2, d.tapectl("frobnicate").status);
  r = run_tapectl("unload --help");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("tapectl unload DRIVE"));
  r = run_tapectl("--url " + d.url() + " status");  // no token
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("401")) << r.err;

  EXPECT_EQ(0, d.stop());
  // After a clean stop the inventory and the library still agree.
  const Library_View db = sqlite_view(d.db_file(), SERIAL);
  const Library_View mtx = mtx_view(d.library_file(), CHANGER_SG);
  ASSERT_TRUE(db.ok && mtx.ok) << db.error << mtx.error;
  EXPECT_EQ(describe(mtx), describe(db));
  EXPECT_EQ("A00002L9", db.slots.at(11));
  EXPECT_EQ(0u, db.slots.count(2));

  // A restart resumes: no rescan, the refresh finds the library in the
  // kept inventory and the cartridge where it was moved.
  ASSERT_TRUE(d.start(error_)) << error_;
  const Library_View web = library_reply(d, "changer/refresh");
  ASSERT_TRUE(web.ok) << web.error;
  EXPECT_EQ(describe(db), describe(web));
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));
  EXPECT_EQ(0, d.stop());
}

// A port taken between picking and listening: the start moves to another
// port instead of waiting for a daemon that can never answer.
TEST_F(Daemon_Test, StartMovesOnWhenThePortIsTaken) {
  Test_Listener taken;
  ASSERT_TRUE(taken.ok());
  Demo_Daemon d(run_dir(), static_cast<int>(taken.port()));
  EXPECT_TRUE(d.start(error_)) << error_;
  EXPECT_NE(static_cast<int>(taken.port()), d.port());
  EXPECT_EQ(0, d.stop());
}

}  // namespace
