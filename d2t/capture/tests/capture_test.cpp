// d2t_capture's reading: through a transport seam that records every CDB,
// only read-only commands reach the device; the file format round-trips;
// the element status requests match the ones the device layer makes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>

#include "d2t/capture/capture_file.h"
#include "d2t/capture/capturer.h"
#include "d2t/capture/command_table.h"
#include "d2t/capture/private_file.h"
#include "d2t/emulator/emulator.h"
#include "d2t/emulator/tests/test_support.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"
#include "testing/child_process.h"
#include "testing/wrapping_provider.h"

namespace d2t {
namespace capture {
namespace {

using d2t::emulator::testing_support::small_library;
using d2t::emulator::testing_support::Temp_Dir;
using d2t::emulator::testing_support::write_file;

// Every CDB sent through any transport it opened.
struct Cdb_Log {
  std::mutex mutex;
  std::vector<Bytes> cdbs;
};

class Capture_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.file("library.json");
    write_file(file_, small_library(30, "", R"(, "faults": [])"));
    std::string error;
    std::shared_ptr<d2t::scsi::Device_Provider> emulated(
        d2t::emulator::make_provider(file_, &error));
    ASSERT_TRUE(emulated) << error;
    provider_ = std::make_shared<test_support::Wrapping_Provider>(
        emulated, test_support::watch_commands([log = log_](const d2t::scsi::Command& cmd) {
          std::lock_guard<std::mutex> guard(log->mutex);
          log->cdbs.emplace_back(cmd.cdb, cmd.cdb + cmd.cdb_len);
        }));
  }

  Temp_Dir dir_;
  std::string file_;
  std::shared_ptr<Cdb_Log> log_ = std::make_shared<Cdb_Log>();
  std::shared_ptr<test_support::Wrapping_Provider> provider_;
};

TEST_F(Capture_Test, SendsOnlyReadOnlyCommandsAndRecordsWhatItAsks) {
  // What the device layer asks for when it reads the changer's status...
  d2t::tools::set_device_provider(provider_);
  d2t::tools::set_clock(std::make_shared<d2t::tools::Manual_Clock>());
  d2t::Changer changer;
  changer.sg_name("/dev/sg5");
  ASSERT_TRUE(d2t::tools::changer_status(changer));
  d2t::tools::set_device_provider(nullptr);
  d2t::tools::set_clock(nullptr);
  std::set<std::string> layer;
  for (const Bytes& cdb : log_->cdbs)
    if (cdb[0] == 0xB8 && cdb[5] > 1) layer.insert(to_hex(cdb));  // not the one-element probes
  ASSERT_FALSE(layer.empty());
  log_->cdbs.clear();

  Capture c;
  std::string error;
  ASSERT_TRUE(capture_devices(*provider_, "/dev/sg5", true, c, error, nullptr)) << error;
  ASSERT_FALSE(log_->cdbs.empty());
  std::set<std::uint8_t> opcodes;
  for (const Bytes& cdb : log_->cdbs) {
    EXPECT_NE(nullptr, read_only_rule(cdb.data(), cdb.size())) << to_hex(cdb);
    opcodes.insert(cdb[0]);
  }
  EXPECT_EQ((std::set<std::uint8_t>{0x12, 0x1A, 0xB8}), opcodes);

  // Identity, every listed VPD page, three mode pages, and element status
  // of each type with VolTag, with and without DVCID.
  std::set<std::string> asked;
  for (const Exchange& x : c.changer.exchanges) asked.insert(to_hex(x.cdb));
  for (const char* cdb :
       {"12 00 00 00 ff 00", "12 01 00 00 ff 00", "12 01 80 00 ff 00", "12 01 83 00 ff 00",
        "1a 08 1d 00 ff 00", "1a 08 1e 00 ff 00", "1a 08 1f 00 ff 00"})
    EXPECT_TRUE(asked.count(cdb)) << cdb;
  // ...is among what the capture asks for.
  for (const std::string& cdb : layer) EXPECT_TRUE(asked.count(cdb)) << cdb;
  std::set<std::pair<int, int>> res;  // (type, dvcid) with VolTag
  for (const Exchange& x : c.changer.exchanges)
    if (x.cdb[0] == 0xB8 && (x.cdb[1] & 0x10)) res.insert({x.cdb[1] & 0x0F, x.cdb[6] & 1});
  EXPECT_EQ(8u, res.size());

  ASSERT_EQ(2u, c.drives.size());
  EXPECT_EQ("/dev/sg6", c.drives[0].sg_name);
  EXPECT_EQ("/dev/st0", c.drives[0].dev_name);
  EXPECT_EQ("DRV-B", recorded_serial(c.drives[0]));
  // Located by the changer's drive identifiers: DRV-A is the first data
  // transfer element, DRV-B the second.
  EXPECT_EQ(0x101, c.drives[0].element_address);
  EXPECT_EQ(0x100, c.drives[1].element_address);
  EXPECT_EQ("LIB-1", recorded_serial(c.changer));
}

TEST_F(Capture_Test, RefusesEveryCommandOutsideTheTableWithoutSendingIt) {
  std::unique_ptr<d2t::scsi::Transport> t = provider_->open("/dev/sg5", nullptr);
  ASSERT_TRUE(t);
  Device_Capture out;
  Recorder r(*t, out);
  const std::uint8_t writes[][12] = {
      {0xA5, 0, 0, 0, 0x10, 0, 0x01, 0, 0, 0, 0, 0},  // MOVE MEDIUM
      {0x07, 0, 0, 0, 0, 0},                          // INITIALIZE ELEMENT STATUS
      {0x1B, 0, 0, 0, 1, 0},                          // LOAD UNLOAD
      {0x15, 0x10, 0, 0, 12, 0},                      // MODE SELECT
      {0x1E, 0, 0, 0, 1, 0},                          // PREVENT ALLOW MEDIUM REMOVAL
      {0x0A, 0, 0, 0, 1, 0},                          // WRITE(6)
  };
  for (const auto& w : writes) {
    d2t::scsi::Cdb cdb;
    cdb.len = w[0] >= 0x20 ? 12 : 6;
    std::copy(w, w + cdb.len, cdb.bytes);
    Exchange x;
    std::string error;
    EXPECT_FALSE(r.send(cdb, 0, x, &error)) << std::hex << int(w[0]);
  }
  EXPECT_TRUE(log_->cdbs.empty());
  EXPECT_TRUE(out.exchanges.empty());
  // A read-only opcode with a CDB of the wrong length is refused too.
  d2t::scsi::Cdb odd = d2t::scsi::inquiry_cdb(false, 0, 36);
  odd.len = 10;
  Exchange x;
  EXPECT_FALSE(r.send(odd, 36, x, nullptr));
  EXPECT_TRUE(log_->cdbs.empty());
}

// The program: its help promises read-only use; usage errors and an
// unknown changer have their own exit status and write no file; the file
// is written privately.
TEST(Capture_Program, HelpUsageAndUnknownDevice) {
  const std::string program = test_support::built_program("d2t_capture");
  // The program with `args` (and `env`): its output, `status` its exit code.
  auto run = [&](const std::vector<std::string>& args, int& status,
                 const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    test_support::Child_Process p(argv, env);
    status = p.exit_code();
    return p.output();
  };
  int status = -1;
  const std::string help = run({"--help"}, status);
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos,
            help.find("never moves, initialises, loads, unloads\nor writes anything"))
      << help;
  run({}, status);
  EXPECT_EQ(2, status);
  run({"/dev/sg5", "--bogus"}, status);
  EXPECT_EQ(2, status);
  Temp_Dir dir;
  write_file(dir.file("library.json"), small_library());
  const std::string out = dir.file("capture.json");
  const std::vector<std::string> emulated = {"D2T_EMULATOR=" + dir.file("library.json")};
  run({"/dev/sg99", "-o", out}, status, emulated);
  EXPECT_EQ(1, status);
  EXPECT_NE(0, ::access(out.c_str(), F_OK));
  // Links planted where the output goes are replaced or left alone, never
  // written through; the capture is readable by its owner only.
  const std::string victim = dir.file("victim");
  write_file(victim, "keep");
  ASSERT_EQ(0, ::symlink(victim.c_str(), out.c_str()));
  ASSERT_EQ(0, ::symlink(victim.c_str(), (out + ".tmp").c_str()));
  run({"/dev/sg5", "-o", out}, status, emulated);
  EXPECT_EQ(0, status);
  struct stat st;
  ASSERT_EQ(0, ::lstat(out.c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(0600u, st.st_mode & 07777);
  std::ifstream kept(victim);
  EXPECT_EQ("keep", std::string(std::istreambuf_iterator<char>(kept), {}));
  // (What the program wrote is replayed by the round-trip system test.)
  // A folder that cannot take the file: an error naming it, nothing left.
  std::string error;
  EXPECT_FALSE(write_private_file(dir.file("none/capture.json"), "x", error));
  EXPECT_NE(std::string::npos, error.find("none/capture.json")) << error;
}

TEST(Capture_File, RoundTripsAndRefusesOtherFormats) {
  Capture c;
  c.changer.sg_name = "/dev/sg3";
  c.changer.target_name = "1:0:0";
  c.changer.exchanges.push_back({{0x12, 0, 0, 0, 0xff, 0}, 0, {0x08, 0x00, 0x05}, {}});
  c.changer.exchanges.push_back({{0x12, 1, 0xb3, 0, 0xff, 0}, 2, {}, {0x70, 0, 5, 0, 0, 0, 0, 10}});
  Device_Capture d;
  d.sg_name = "/dev/sg4";
  d.dev_name = "/dev/st0";
  d.element_address = 0x101;
  c.drives.push_back(d);
  const std::string text = write_capture(c);
  EXPECT_NE(std::string::npos, text.find("\"12 01 b3 00 ff 00\""));
  EXPECT_NE(std::string::npos, text.find("\"d2t-capture/1\""));
  Capture back;
  std::string error;
  ASSERT_TRUE(parse_capture(text, back, &error)) << error;
  EXPECT_EQ(text, write_capture(back));

  EXPECT_FALSE(
      parse_capture(R"({"format": "d2t-capture/2", "changer": {"exchanges": []}})", back, &error));
  EXPECT_FALSE(
      parse_capture(R"({"format": "d2t-capture/1", "changer": {"exchanges": [{"cdb": "12  00"}]}})",
                    back, &error));
  Bytes b;
  EXPECT_FALSE(from_hex("1", b));
  EXPECT_FALSE(from_hex("12 0g", b));
  EXPECT_FALSE(from_hex("12 ", b));
  ASSERT_TRUE(from_hex("", b));
  EXPECT_TRUE(b.empty());
}

}  // namespace
}  // namespace capture
}  // namespace d2t
