// Drive identification without moving cartridges: each route (the
// changer's T10 or serial identifiers, the drives' own element addresses)
// places every drive even when no cartridge can be mounted; ambiguous or
// mismatching identifiers fall back to loading for exactly those elements;
// capacities follow the media type and a rescan moves nothing. Also the
// matcher itself on plain data.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>

#include "d2t/controller/drive_identity.h"
#include "d2t/controller/tests/support/controller_fixture.h"
#include "d2t/emulator/emulator.h"
#include "d2t/tools/provider.h"
#include "json_spirit/json_helpers.h"
#include "testing/wrapping_provider.h"

using namespace controller_test;
using d2t::identify::Route;

namespace {

// MOVE MEDIUM commands sent to any device, and those into each drive
// element `n` (address 0x100 + n).
struct Move_Count {
  std::atomic<int> moves{0};
  std::atomic<int> loads_into[16] = {};
};

class Identity_Test : public Controller_Test {
 protected:
  // Four drives listed by the host in the reverse order of their elements,
  // data cartridges of three media types.
  Changer_Layout library(const std::string& dvcid) {
    Changer_Layout c = make_changer("CHG0001", 12, 4, 6);
    c.dvcid = dvcid;
    for (int i = 0; i < 4; ++i) c.drives[i].sg_name = "/dev/sg2" + std::to_string(9 - i) + "0";
    c.cartridges[2].barcode = "CHG0003L8";
    c.cartridges[3].barcode = "CHG0004L7";
    c.cartridges[4].barcode = "CHG0005L7";
    return c;
  }
  // Writes the library with mounts into every drive failing for good.
  void open_without_mounts(Changer_Layout c) {
    c.faults.push_back({"mount", "", 1000000, false});
    write_library({0, 0, 0, {c}});
    count_moves();
    ASSERT_TRUE(open_controller());
  }
  void count_moves() {
    std::string error;
    std::shared_ptr<d2t::scsi::Device_Provider> inner =
        d2t::emulator::make_provider(library_file(), &error);
    ASSERT_TRUE(inner) << error;
    auto count = counter_ = std::make_shared<Move_Count>();
    d2t::tools::set_device_provider(std::make_shared<test_support::Wrapping_Provider>(
        inner, test_support::watch_commands([count](const d2t::scsi::Command& cmd) {
          if (cmd.cdb_len < 8 || cmd.cdb[0] != 0xA5) return;
          ++count->moves;
          const int to = cmd.cdb[6] << 8 | cmd.cdb[7];
          if (to >= 0x100 && to < 0x110) ++count->loads_into[to - 0x100];
        })));
  }
  void expect_mapped(const std::vector<int>& drives = {0, 1, 2, 3}) {
    Controller_Test::expect_mapped("CHG0001", drives);
  }
  std::shared_ptr<Move_Count> counter_;
};

TEST_F(Identity_Test, EachRoutePlacesEveryDriveWithoutAMount) {
  struct Case {
    const char* name;
    const char* dvcid;
    bool automation_vpd;
  } const cases[] = {
      {"T10 identifiers", "t10", false},
      {"serial identifiers", "serial", false},
      {"drive element addresses", "none", true},
      {"DVCID refused, element addresses", "reject", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Changer_Layout layout = library(c.dvcid);
    layout.automation_vpd = c.automation_vpd;
    open_without_mounts(layout);
    rescan_ok("CHG0001");
    expect_mapped();
    for (const Cartridge_Layout& t : layout.cartridges)
      EXPECT_EQ("slot:" + std::to_string(t.slot), where_is(t.barcode)) << t.barcode;
    // At most the refused attempt to measure a capacity: loading would
    // have tried every element at least once.
    EXPECT_LT(counter_->moves.load(), 4);
    TearDown();
    SetUp();
  }
}

// A drive element whose identifier matches no host drive, or two elements
// naming one host drive: exactly those are found by loading, the others
// never see a mount (their mounts would fail).
TEST_F(Identity_Test, MismatchAndDuplicateFallBackForThoseElementsOnly) {
  Changer_Layout c = library("t10");
  c.element_identifier["CHG0001-D1"] = "NO-SUCH-DRIVE";
  c.element_identifier["CHG0001-D2"] = "CHG0001-D3";  // D3's serial, which element 3 reports too
  for (int i : {0}) c.faults.push_back({"mount", c.drives[i].serial_number, 1000000, false});
  write_library({0, 0, 0, {c}});
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");
  expect_mapped();
  expect_consistent();
}

// A library whose VPD 0xB4 numbers the elements one off against its
// identifiers: no drive is trusted, every one is found by loading.
TEST_F(Identity_Test, ShiftedElementAddressesFallBackToLoadingAndEndUpRight) {
  Changer_Layout c = library("t10");
  c.automation_vpd = true;
  c.automation_address_shift = 1;
  write_library({0, 0, 0, {c}});
  count_moves();
  ASSERT_TRUE(open_controller());
  rescan_ok("CHG0001");
  expect_mapped();
  for (int i = 0; i < 4; ++i) EXPECT_GE(counter_->loads_into[i].load(), 1) << i;
  expect_consistent();
}

// Elements 0 and 1 are drives of another host, each holding that host's
// cartridge; this host sees elements 2 and 3.
TEST_F(Identity_Test, SharedLibraryLeavesTheOtherHostsDrivesAlone) {
  for (const char* dvcid : {"t10", "none"}) {
    SCOPED_TRACE(dvcid);
    Changer_Layout c = library(dvcid);
    c.drives[0].attached = c.drives[1].attached = false;
    c.cartridges[0].slot = c.cartridges[1].slot = 0;
    c.cartridges[0].drive = 0;
    c.cartridges[1].drive = 1;
    write_library({0, 0, 0, {c}});
    count_moves();
    ASSERT_TRUE(open_controller());
    // Waits for drives that never answer pass at once.
    controller().clock(std::make_shared<Fake_Controller_Clock>());
    rescan_ok("CHG0001");
    if (std::string(dvcid) == "t10") {
      // Known to be elsewhere: neither unloaded nor loaded.
      EXPECT_EQ("drive:0", where_is(c.cartridges[0].barcode));
      EXPECT_EQ("drive:1", where_is(c.cartridges[1].barcode));
      EXPECT_EQ(0, counter_->loads_into[0].load());
      EXPECT_EQ(0, counter_->loads_into[1].load());
    } else {
      // Not known: emptied, then loaded until no candidate answers.
      EXPECT_GE(counter_->loads_into[0].load(), 1);
      EXPECT_LE(counter_->loads_into[0].load(), controller().faulty_threshold());
      EXPECT_LE(counter_->loads_into[1].load(), controller().faulty_threshold());
    }
    expect_mapped({2, 3});
    EXPECT_TRUE(drive_row("CHG0001-D0").empty());
    EXPECT_TRUE(drive_row("CHG0001-D1").empty());
    TearDown();
    SetUp();
  }
}

// Capacities by media type: a measured L9 does not make an L7 18 TB. The
// second rescan of the same library moves nothing: the capacities and the
// type are known.
TEST_F(Identity_Test, CapacityPerMediaTypeAndARescanWithoutMoves) {
  Changer_Layout c = library("t10");
  const std::uint64_t MEASURED = 17000000ULL * 1048576;  // whole MiB, not the native 18 TB
  c.cartridges[0].capacity = static_cast<long long>(MEASURED);
  write_library({0, 0, 0, {c}});
  count_moves();
  ASSERT_TRUE(open_controller());
  d2t::Changer_var lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  EXPECT_EQ(2, counter_->moves.load());  // one load and unload: the L9 measured
  std::map<std::string, std::uint64_t> capacity;
  for (const d2t::Media_var& m : lib->medias())
    if (!m->media_tag().empty()) capacity[m->media_tag()] = m->capacity();
  EXPECT_EQ(MEASURED, capacity["CHG0002L9"]);           // same type as the measured one
  EXPECT_EQ(12000000000000ULL, capacity["CHG0003L8"]);  // native
  EXPECT_FALSE(lib->type().empty());

  // Every mount fails from now on: the rescan must not need one.
  set_faults({{"mount", "", 1000000, false}});
  count_moves();
  lib = rescan("CHG0001");
  ASSERT_FALSE(lib.null());
  EXPECT_EQ(0, counter_->moves.load());
  EXPECT_FALSE(lib->type().empty());
  for (const d2t::Media_var& m : lib->medias()) {
    if (!m->media_tag().empty()) {
      EXPECT_EQ(capacity[m->media_tag()], m->capacity()) << m->media_tag();
    }
  }
  expect_mapped();
}

// The matcher on plain data.
d2t::tools::Element_Identity element(std::uint16_t address, const std::string& serial,
                                     std::uint8_t code_set = 2, const std::string& raw = "") {
  d2t::tools::Element_Identity e;
  e.drive_number = address - 0x100u;
  e.address = address;
  e.code_set = code_set;
  e.id_type = code_set == 1 ? 3 : 0;
  e.identifier = raw.empty() ? serial : raw;
  e.serial = code_set == 1 ? "" : serial;
  return e;
}

d2t::tools::Drive_Identity host(const std::string& serial) {
  d2t::tools::Drive_Identity h;
  h.unit_serial = serial;
  return h;
}

// How the matcher ties elements to host drives, element by element (the
// rule for one pair is tested in d2t/scsi/tests/vpd_identifier_test.cpp).
TEST(Drive_Matcher, RoutesAmbiguitiesAndElementsElsewhere) {
  const std::string naa("\x50\x01\x02\x03\x04\x05\x06\x07", 8);
  std::vector<d2t::tools::Element_Identity> elements = {
      element(0x100, "VENDOR-1013000999"),  // the host's serial is its trailing part
      element(0x101, ""),                   // no identifier: the drive places itself
      element(0x102, "", 1, naa),           // binary: against the host's designators
      element(0x103, "SAME"),               // two hosts answer "SAME"
      element(0x104, "DRV11"),              // no host here says it is that drive
  };
  std::vector<d2t::tools::Drive_Identity> hosts = {
      host("SAME"), host(" 1013000999 "), host("X"), host("SAME"), host("1"), host("P")};
  hosts[2].designators.push_back({1, 3, naa});
  hosts[5].placed = true;
  hosts[5].automation_serial = "LIB-1  ";
  hosts[5].element_address = 0x101;

  d2t::identify::Drive_Match m = d2t::identify::match_drives("LIB-1", elements, hosts, true);
  EXPECT_EQ((std::vector<int>{1, 5, 2, -1, -1}), m.host);
  EXPECT_EQ((std::vector<Route>{Route::SERIAL, Route::ELEMENT_ADDRESS, Route::DESIGNATOR,
                                Route::NONE, Route::NONE}),
            m.route);
  EXPECT_EQ((std::vector<bool>{false, false, false, false, true}), m.elsewhere);
  EXPECT_EQ(1u, m.conflicts.size());  // element 0x103
  EXPECT_TRUE(m.disagreements.empty());

  // One host named by two elements: neither is identified.
  elements[4] = element(0x104, "1013000999");
  m = d2t::identify::match_drives("LIB-1", elements, hosts, true);
  EXPECT_EQ(-1, m.host[0]);
  EXPECT_EQ(-1, m.host[4]);
  EXPECT_EQ(3u, m.conflicts.size());
}

TEST(Capacity_Assignment, ByRecordThenTypeThenNativeThenFirstMeasured) {
  auto media = [](const std::string& tag, d2t::Media_State state, std::uint64_t capacity) {
    d2t::Media_var m(new d2t::Media);
    m->media_tag(tag);
    m->state(state);
    m->capacity(capacity);
    return m;
  };
  std::vector<d2t::Media_var> medias = {
      media("A00001L8", d2t::MST_BLANK, 11000),  // measured now
      media("A00002L8", d2t::MST_FULL, 0),       // same type
      media("A00003L7", d2t::MST_FULL, 0),       // native
      media("A00004XX", d2t::MST_FULL, 0),       // recorded
      media("A00005XX", d2t::MST_FULL, 0),       // same type as the recorded one
      media("A00006ZZ", d2t::MST_FULL, 0),       // unknown type: the first measured
      media("CLN001L1", d2t::MST_CLEAN, 0),      // left alone
      media("A00007YY", d2t::MST_FULL, 0),       // recorded as a guess
      media("A00008YY", d2t::MST_FULL, 0),       // same type as that guess
  };
  // A00001L8 was a guess before: measured now, it no longer is one.
  std::set<std::string> guessed = {"A00001L8", "A00007YY"};
  d2t::identify::assign_capacities(medias, {{"A00004XX", 777}, {"A00007YY", 555}}, guessed);
  const std::uint64_t expected[] = {11000, 11000, 6000000000000ULL, 777, 777, 11000, 0, 555, 555};
  for (std::size_t i = 0; i < medias.size(); ++i) {
    EXPECT_EQ(expected[i], medias[i]->capacity()) << i;
    EXPECT_EQ(i == 6 ? d2t::MST_CLEAN : d2t::MST_BLANK, medias[i]->state()) << i;
  }
  EXPECT_EQ((std::set<std::string>{"A00003L7", "A00006ZZ", "A00007YY", "A00008YY"}), guessed);
  std::vector<d2t::Media_var> none = {media("A00001ZZ", d2t::MST_FULL, 0)};
  guessed.clear();
  d2t::identify::assign_capacities(none, {}, guessed);
  EXPECT_EQ(d2t::MST_UNKNOWN, none[0]->state());
}

}  // namespace
