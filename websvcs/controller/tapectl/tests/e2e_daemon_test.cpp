// The whole daemon end to end: scripts/demo runs starter with the tape
// controller and the web service on an emulated library; a real HTTP
// client drives it; afterwards the web replies, the SQLite inventory (read
// with sqlite3) and the emulated library (read with mtx) must agree.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "json_spirit/json_helpers.h"
#include "json_spirit/json_spirit.h"
#include "websvcs/controller/tapectl/tests/e2e_support.h"

using json_spirit::Object;
using json_spirit::Value;
using tapectl_test::Demo_Daemon;
using tapectl_test::Http_Reply;
using tapectl_test::Library_View;

namespace {

const char SERIAL[] = "EMU-LIB-0001";
const char CHANGER_SG[] = "/dev/sg10";
const char DRIVE_1[] = "EMU-DRV-0001";
const char DRIVE_2[] = "EMU-DRV-0002";

Value parse(const Http_Reply& r) {
  Value v;
  return json_spirit::read(r.body, v) ? v : Value();
}

std::string message(const Http_Reply& r) {
  const Value v = parse(r);
  const std::string* m = v.type() == json_spirit::obj_type
                             ? json_spirit::object_get_str(v.get_obj(), "message")
                             : nullptr;
  return m ? *m : std::string();
}

std::string drive_body(const std::string& drive, const std::string& tag = "") {
  return R"({"serial_number": ")" + drive + "\"" +
         (tag.empty() ? "" : R"(, "media_tag": ")" + tag + "\"") + "}";
}

// Replaces the faults of the first changer in the library file; the
// running daemon picks the new list up.
void set_faults(const std::string& library_file, const std::string& faults_json) {
  Value lib;
  ASSERT_TRUE(json_spirit::load_json(library_file, lib, 1));
  Value faults;
  ASSERT_TRUE(json_spirit::read(faults_json, faults));
  lib.get_obj()["changers"].get_array()[0].get_obj()["faults"] = faults;
  const std::string tmp = library_file + ".tmp";
  std::ofstream(tmp) << json_spirit::write(lib);
  ASSERT_EQ(0, std::rename(tmp.c_str(), library_file.c_str()));
}

// The slots of a refresh reply as a view (tagged slots only).
Library_View refresh_view(const Demo_Daemon& d) {
  Library_View v;
  const Http_Reply r = d.get(std::string("/d2/r/tapectl/changer/refresh?serial_number=") + SERIAL);
  if (r.status != 200) {
    v.error = "refresh answered " + std::to_string(r.status) + " " + r.body;
    return v;
  }
  const Object body = parse(r).get_obj();
  for (const Value& s : body.at("slots").get_array()) {
    const std::string* tag = json_spirit::object_get_str(s.get_obj(), "media_tag");
    if (tag != nullptr && !tag->empty()) v.slots[s.get_obj().at("slot_number").get_int()] = *tag;
  }
  for (const Value& dv : body.at("drives").get_array()) {
    const Object& o = dv.get_obj();
    int slot = 0;
    if (!json_spirit::object_get(o, "slot_number", slot) || slot <= 0) continue;
    v.drives[o.at("drive_number").get_int()] = slot;
    // A loaded cartridge still belongs to its home slot.
    const std::string* tag = json_spirit::object_get_str(o, "media_tag");
    if (tag != nullptr && !tag->empty()) v.slots[slot] = *tag;
  }
  v.ok = true;
  return v;
}

std::string describe(const Library_View& v) {
  std::ostringstream out;
  for (const auto& s : v.slots) out << s.first << "=" << s.second << " ";
  out << "| drives ";
  for (const auto& d : v.drives) out << d.first << "<-" << d.second << " ";
  return out.str();
}

// Web reply, inventory and emulator tell the same story.
void expect_three_views_agree(const Demo_Daemon& d) {
  const Library_View web = refresh_view(d);
  ASSERT_TRUE(web.ok) << web.error;
  ASSERT_TRUE(tapectl_test::have_program("sqlite3")) << "sqlite3 is not installed";
  ASSERT_TRUE(tapectl_test::have_program("mtx")) << "mtx is not installed";
  const Library_View db = tapectl_test::sqlite_view(d.dir() + "/state/media_controller.db", SERIAL);
  ASSERT_TRUE(db.ok) << db.error;
  EXPECT_EQ(describe(web), describe(db)) << "web reply and inventory differ";
  const Library_View mtx = tapectl_test::mtx_view(d.dir() + "/library.json", CHANGER_SG);
  ASSERT_TRUE(mtx.ok) << mtx.error;
  EXPECT_EQ(describe(web), describe(mtx)) << "web reply and emulated library differ";
}

class E2E_Daemon_Test : public Temp_Dir {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(Temp_Dir::SetUp());
    port_ = tapectl_test::free_loopback_port();
    ASSERT_GT(port_, 0);
  }
  std::string run_dir() const { return dir_ + "/run"; }

  int port_ = 0;
  std::string error_;
};

TEST_F(E2E_Daemon_Test, ListLoadUnloadTransferAndFaultyDrive) {
  Demo_Daemon d(run_dir(), port_);
  ASSERT_TRUE(d.start(error_)) << error_;

  // Rescan and list the sample library.
  Http_Reply r = d.get(std::string("/d2/r/tapectl/list?serial_number=") + SERIAL);
  ASSERT_EQ(200, r.status) << r.body;
  Value list = parse(r);
  ASSERT_EQ(json_spirit::array_type, list.type()) << r.body;
  ASSERT_EQ(1u, list.get_array().size());
  const Object& lib = list.get_array()[0].get_obj();
  EXPECT_EQ(SERIAL, lib.at("serial_number").get_str());
  EXPECT_EQ(2u, lib.at("drives").get_array().size());
  EXPECT_EQ(26u, lib.at("slots").get_array().size());

  // Info: the host and the library it sees.
  r = d.get("/d2/r/tapectl/info");
  ASSERT_EQ(200, r.status);
  const Value info = parse(r);
  EXPECT_EQ(36u, info.get_obj().at("host_uuid").get_str().size());
  ASSERT_EQ(1u, info.get_obj().at("changers").get_array().size());
  EXPECT_EQ(SERIAL,
            info.get_obj().at("changers").get_array()[0].get_obj().at("serial_number").get_str());

  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));

  // Load, check, unload.
  r = d.post("/d2/r/tapectl/drive/load", drive_body(DRIVE_1, "A00001L9"));
  EXPECT_EQ(200, r.status) << r.body;
  EXPECT_EQ("", r.body);
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));
  r = d.post("/d2/r/tapectl/drive/unload", drive_body(DRIVE_1));
  EXPECT_EQ(200, r.status) << r.body;

  // Transfer slot 2 -> 11.
  r = d.post("/d2/r/tapectl/media/transfer",
             std::string(R"({"serial_number": ")") + SERIAL +
                 R"(", "media_tag": "A00002L9", "from": 2, "to": 11})");
  ASSERT_EQ(200, r.status) << r.body;
  EXPECT_EQ(R"({"is_porter":false,"media_tag":"A00002L9","slot_number":11})", r.body);
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));

  // A drive that fails with hardware errors is reported faulty.
  ASSERT_NO_FATAL_FAILURE(set_faults(d.dir() + "/library.json",
                                     std::string(R"([{"op": "mount", "drive": ")") + DRIVE_2 +
                                         R"(", "times": 1000, "hardware": true}])"));
  r = d.post("/d2/r/tapectl/drive/load", drive_body(DRIVE_2, "A00003L9"));
  EXPECT_EQ(500, r.status);
  EXPECT_EQ("Failed to load media", message(r));
  bool faulty = false;
  EXPECT_TRUE(json_spirit::object_get(parse(r).get_obj(), "faulty", faulty) && faulty) << r.body;
  ASSERT_NO_FATAL_FAILURE(set_faults(d.dir() + "/library.json", "[]"));
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(d));

  EXPECT_EQ(0, d.stop());

  // After a clean stop the inventory and the library still agree.
  const Library_View db = tapectl_test::sqlite_view(d.dir() + "/state/media_controller.db", SERIAL);
  const Library_View mtx = tapectl_test::mtx_view(d.dir() + "/library.json", CHANGER_SG);
  ASSERT_TRUE(db.ok && mtx.ok) << db.error << mtx.error;
  EXPECT_EQ(describe(mtx), describe(db));
  EXPECT_EQ("A00002L9", db.slots.at(11));
  EXPECT_EQ(0u, db.slots.count(2));
}

TEST_F(E2E_Daemon_Test, RefusesBadRequests) {
  Demo_Daemon d(run_dir(), port_);
  ASSERT_TRUE(d.start(error_)) << error_;

  ASSERT_EQ(200, d.get(std::string("/d2/r/tapectl/list?serial_number=") + SERIAL).status);
  // Routing and methods; the handlers' own checks are covered by their
  // tests, a few here show the daemon passes them on.
  const struct {
    const char* method;
    const char* target;
    const char* body;
    int status;
    const char* message;  // the start of the reply's message
  } rows[] = {
      {"GET", "/d2/r/tapectl/nothing", "", 404, ""},
      {"GET", "/d2/r/other", "", 404, ""},
      {"GET", "/d2/r/tapectl/drive/load", "", 405, ""},
      {"GET", "/d2/r/tapectl/media/transfer", "", 405, ""},
      {"DELETE", "/d2/r/tapectl/info", "", 405, ""},
      {"POST", "/d2/r/tapectl/list?serial_number=X", "{}", 405, ""},
      {"GET", "/d2/r/tapectl/list", "", 400, "Need 'serial_number' in query string."},
      {"GET", "/d2/r/tapectl/changer/refresh?serial_number=NO-SUCH-LIBRARY", "", 500,
       "Failed to refresh changer"},
      {"POST", "/d2/r/tapectl/media/transfer", R"({"serial_number": "EMU-LIB-0001", )", 400,
       "Malformed JSON body"},
      {"POST", "/d2/r/tapectl/media/transfer", R"([1, 2, 3])", 400,
       "Request body is expected as JSON object."},
      {"POST", "/d2/r/tapectl/media/transfer",
       R"({"serial_number": "EMU-LIB-0001", "media_tag": "A00001L9", "from": 4294967297, "to": 11})",
       400, "'from' is expected as int in request body."},
      {"POST", "/d2/r/tapectl/media/transfer",
       R"({"serial_number": "EMU-LIB-0001", "media_tag": "A00001L9", "from": 1, "to": 99})", 400,
       "Target slot doesn't exist"},
      {"POST", "/d2/r/tapectl/drive/load", "[]", 400, ""},
      {"POST", "/d2/r/tapectl/drive/unload", "{", 400, ""},
  };
  for (const auto& row : rows) {
    const Http_Reply r = tapectl_test::http_request(d.port(), row.method, row.target, row.body);
    EXPECT_EQ(row.status, r.status) << row.target << " " << row.body << " -> " << r.body;
    EXPECT_EQ(0u, message(r).find(row.message)) << row.target << " " << row.body;
  }

  // A body above the limit is refused without being read.
  const std::string big = "{\"x\": \"" + std::string(2 * 1024 * 1024, 'a') + "\"}";
  EXPECT_EQ(413, d.post("/d2/r/tapectl/media/transfer", big).status);

  // Still serving.
  EXPECT_EQ(200, d.get("/d2/r/tapectl/info").status);
  EXPECT_EQ(0, d.stop());
}

TEST_F(E2E_Daemon_Test, RestartResumesInventoryAndPositions) {
  {
    Demo_Daemon d(run_dir(), port_);
    ASSERT_TRUE(d.start(error_)) << error_;
    ASSERT_EQ(200, d.get(std::string("/d2/r/tapectl/list?serial_number=") + SERIAL).status);
    const Http_Reply r = d.post(
        "/d2/r/tapectl/media/transfer",
        R"({"serial_number": "EMU-LIB-0001", "media_tag": "A00005L9", "from": 5, "to": 13})");
    ASSERT_EQ(200, r.status) << r.body;
    EXPECT_EQ(0, d.stop());
  }
  Demo_Daemon again(run_dir(), port_);
  ASSERT_TRUE(again.start(error_)) << error_;
  // No rescan: the refresh finds the library in the kept inventory, and the
  // cartridge where it was moved.
  const Library_View web = refresh_view(again);
  ASSERT_TRUE(web.ok) << web.error;
  EXPECT_EQ("A00005L9", web.slots.count(13) ? web.slots.at(13) : "");
  EXPECT_EQ(0u, web.slots.count(5));
  ASSERT_NO_FATAL_FAILURE(expect_three_views_agree(again));
  EXPECT_EQ(0, again.stop());
}

// A port taken between picking and listening: the start moves to another
// port instead of waiting for a daemon that can never answer.
TEST_F(E2E_Daemon_Test, StartMovesOnWhenThePortIsTaken) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, ::listen(fd, 1));
  ASSERT_EQ(0, ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len));
  const int taken = ntohs(a.sin_port);

  Demo_Daemon d(run_dir(), taken);
  EXPECT_TRUE(d.start(error_)) << error_;
  EXPECT_NE(taken, d.port());
  EXPECT_EQ(0, d.stop());
  ::close(fd);
}

}  // namespace
