// The whole daemon against requests a web page could make a local
// browser send: cross-site requests (a foreign Origin) and DNS rebinding
// (a foreign Host) are refused before any handler runs, so no cartridge
// moves and the inventory is untouched.
#include <gtest/gtest.h>

#include "tests/system/system_support.h"

using namespace system_test;

namespace {

class Cross_Site_Test : public Temp_Dir {};

TEST_F(Cross_Site_Test, CrossSiteAndRebindingRequestsMoveNothing) {
  ASSERT_TRUE(have_program("sqlite3")) << "sqlite3 is not installed";
  ASSERT_TRUE(have_program("mtx")) << "mtx is not installed";
  Demo_Daemon d(dir_ + "/run", free_loopback_port());
  std::string error;
  ASSERT_TRUE(d.start(error)) << error;
  ASSERT_EQ(200, d.get(std::string("/d2/r/tapectl/list?serial_number=") + SERIAL).status);
  const std::string db_file = d.db_file();
  const Library_View db_before = sqlite_view(db_file, SERIAL);
  const Library_View mtx_before = mtx_view(d.library_file(), CHANGER_SG);
  ASSERT_TRUE(db_before.ok && mtx_before.ok) << db_before.error << mtx_before.error;

  const std::string port = std::to_string(d.port());
  const std::string evil_origin = "Origin: http://evil.example.com\r\n";
  const std::string rebound = "Host: evil.example.com:" + port + "\r\n";
  const std::string transfer = std::string(R"({"serial_number": ")") + SERIAL +
                               R"(", "media_tag": "A00002L9", "from": 2, "to": 11})";
  const std::string load = R"({"serial_number": "EMU-DRV-0001", "media_tag": "A00001L9"})";
  const struct {
    const char* method;
    std::string target, body, headers;
  } rows[] = {
      {"POST", "/d2/r/tapectl/media/transfer", transfer, evil_origin},
      {"POST", "/d2/r/tapectl/drive/load", load, evil_origin},
      {"GET", std::string("/d2/r/tapectl/list?serial_number=") + SERIAL, "", evil_origin},
      {"POST", "/d2/r/tapectl/media/transfer", transfer, rebound},
      {"GET", "/d2/r/tapectl/info", "", rebound},
  };
  for (const auto& row : rows) {
    std::string head = std::string(row.method) + " " + row.target + " HTTP/1.1\r\n" +
                       (row.headers == rebound ? "" : "Host: 127.0.0.1:" + port + "\r\n") +
                       row.headers + "Connection: close\r\nContent-Type: text/plain\r\n" +
                       "Content-Length: " + std::to_string(row.body.size()) + "\r\n\r\n";
    Test_Socket s(static_cast<unsigned int>(d.port()));
    ASSERT_TRUE(s.ok());
    s.send_all(head + row.body);
    const Http_Reply r = parse_reply(s.read_all());
    EXPECT_EQ(403, r.status) << row.method << " " << row.target << " " << row.headers;
  }

  const Library_View db_after = sqlite_view(db_file, SERIAL);
  const Library_View mtx_after = mtx_view(d.library_file(), CHANGER_SG);
  ASSERT_TRUE(db_after.ok && mtx_after.ok) << db_after.error << mtx_after.error;
  EXPECT_EQ(mtx_before.slots, mtx_after.slots);
  EXPECT_EQ(mtx_before.drives, mtx_after.drives);
  EXPECT_EQ(db_before.slots, db_after.slots);
  EXPECT_EQ(db_before.drives, db_after.drives);
  EXPECT_EQ("A00002L9", mtx_after.slots.at(2));
  EXPECT_TRUE(mtx_after.drives.empty());

  // The same move without Origin, as curl or the backup software sends it.
  EXPECT_EQ(200, d.post("/d2/r/tapectl/media/transfer", transfer).status);
  EXPECT_EQ("A00002L9", mtx_view(d.library_file(), CHANGER_SG).slots.at(11));
  EXPECT_EQ(0, d.stop());
}

}  // namespace
