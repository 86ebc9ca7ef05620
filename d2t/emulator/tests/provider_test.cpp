// The emulated devices through the provider, checked with the initiator's
// own decoders so both sides agree on the bytes; and how the changer and
// the drives identify the drives ("dvcid", "element_identifier",
// "automation_vpd").
#include <gtest/gtest.h>

#include "d2t/emulator/config.h"
#include "d2t/emulator/element_map.h"
#include "d2t/emulator/emulator.h"
#include "d2t/scsi/element_status.h"
#include "d2t/scsi/tests/element_pages.h"
#include "test_support.h"

namespace d2t {
namespace emulator {
namespace {

using namespace testing_support;
using d2t::scsi::testing::describe;

const Bytes TEST_UNIT_READY = {0, 0, 0, 0, 0, 0}, EJECT = {0x1B, 0, 0, 0, 0, 0};

// small_library() with its "dvcid" replaced and `drive_a_keys` added to
// DRV-A (drive 0, /dev/sg7).
std::string library(const std::string& dvcid, const std::string& drive_a_keys = "") {
  std::string text = small_library();
  text.replace(text.find("\"t10\""), 5, "\"" + dvcid + "\"");
  if (!drive_a_keys.empty())
    text.insert(text.find("\"dev_name\": \"/dev/st1\""), drive_a_keys + ", ");
  return text;
}

class Provider_Test : public ::testing::Test {
 protected:
  void SetUp() override { use(small_library()); }
  // Writes `text` as the library file and opens a fresh provider and its
  // changer /dev/sg5 on it.
  void use(const std::string& text) {
    write_file(file_, text);
    std::string error;
    provider_ = make_provider(file_, &error);
    ASSERT_TRUE(provider_) << error;
    changer_ = provider_->open("/dev/sg5", &error);
    ASSERT_TRUE(changer_) << error;
  }
  std::unique_ptr<d2t::scsi::Transport> open(const char* name) {
    std::unique_ptr<d2t::scsi::Transport> t = provider_->open(name, nullptr);
    EXPECT_TRUE(t) << name;
    return t;
  }
  // Element status of every element of `type`, described one per element.
  std::vector<std::string> elements(std::uint8_t type, bool voltag, bool dvcid) {
    const std::uint32_t alloc = 4 << 20;
    d2t::scsi::Element_Report report;
    std::vector<std::string> out;
    for (const auto& e : elements_of(
             run(*changer_, res_cdb(type, voltag, dvcid, 0, 0xFFFF, alloc), alloc), &report))
      out.push_back(describe(e));
    EXPECT_FALSE(report.truncated);
    return out;
  }
  // The devices listed, "sg_name dev_name target_name kind;" each.
  std::string listed() {
    std::vector<d2t::scsi::Device_Entry> list;
    EXPECT_TRUE(provider_->list(list, nullptr));
    std::string s;
    for (const auto& e : list)
      s += e.sg_name + " " + e.dev_name + " " + e.target_name + " " + std::to_string(int(e.kind)) +
           ";";
    return s;
  }
  // The unit serial number (VPD 0x80) the device `name` answers.
  std::string unit_serial(const char* name) {
    Answer r = run(*open(name), {0x12, 1, 0x80, 0, 64, 0}, 64);
    EXPECT_TRUE(r.good()) << name;
    return r.data.size() < 4 ? "" : std::string(r.data.begin() + 4, r.data.end());
  }
  Temp_Dir dir_;
  std::string file_ = dir_.file("library.json");
  std::unique_ptr<d2t::scsi::Device_Provider> provider_;
  std::unique_ptr<d2t::scsi::Transport> changer_;
};

TEST_F(Provider_Test, ListsDevicesInHostOrderAndOpensEveryName) {
  const std::string drives = " /dev/st0 2:0:1 1;/dev/sg7 /dev/st1 2:0:2 1;";
  EXPECT_EQ("/dev/sg5  2:0:0 0;/dev/sg6" + drives, listed());
  for (const char* name : {"/dev/sg6", "/dev/st0", "/dev/nst0"})
    EXPECT_EQ("DRV-B", unit_serial(name));
  std::string error;
  EXPECT_FALSE(provider_->open("/dev/sg8", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(provider_->open("", nullptr));

  // Sorting is numeric: /dev/sg10 after /dev/sg9. Renames come from the file.
  std::string text = small_library();
  text.replace(text.find("/dev/sg7"), 8, "/dev/sg10");
  text.replace(text.find("/dev/sg6"), 8, "/dev/sg9");
  write_file(file_, text);
  EXPECT_EQ("/dev/sg5  2:0:0 0;/dev/sg9 /dev/st0 2:0:1 1;/dev/sg10 /dev/st1 2:0:2 1;", listed());

  // DRV-B of another host keeps its element (checked through the tools'
  // moves) but is neither listed nor opened here.
  text = small_library();
  text.replace(text.find(R"("sg_name": "/dev/sg6", "dev_name": "/dev/st0"})"), 46,
               R"("attached": false})");
  use(text);
  EXPECT_EQ("/dev/sg5  2:0:0 0;/dev/sg7 /dev/st1 2:0:2 1;", listed());
  EXPECT_FALSE(provider_->open("/dev/sg6", nullptr));
}

TEST_F(Provider_Test, ElementStatusDecodesToTheTruth) {
  ASSERT_EQ(run(*changer_, move_cdb(STORAGE_BASE, DRIVE_BASE + 1)).status, 0);
  const std::vector<std::string> all = elements(0, true, true);
  ASSERT_EQ(all.size(), 1u + 2 + 2 + 10);
  EXPECT_EQ("1 0000", all[0]);
  EXPECT_EQ("4 0101 full from 1000 medium 1 tag T00001L9 id EMUVEND/TAPEDRIVE/DRV-B", all[2]);
  EXPECT_EQ("3 0400", all[3]);
  EXPECT_EQ("2 1000", all[5]);
  EXPECT_EQ("2 1002 full from 1002 medium 2 tag CLN001L1", all[7]);
  // Without VolTag no tags, without DVCID no identifiers.
  EXPECT_EQ("2 1001 full from 1001 medium 1", elements(2, false, false)[1]);
  EXPECT_EQ("4 0101 full from 1000 medium 1 tag T00001L9", elements(4, true, false)[1]);
}

TEST_F(Provider_Test, ElementStatusHonoursStartCountAndAllocation) {
  // Start inside the storage range, two elements.
  Answer r = run(*changer_, res_cdb(2, true, false, STORAGE_BASE + 2, 2, 4096), 4096);
  d2t::scsi::Element_Report report;
  const auto out = elements_of(r, &report);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(report.first_address, STORAGE_BASE + 2);
  EXPECT_EQ(out[0].volume_tag, "CLN001L1");
  // Allocation shorter than the report: the header still tells the size.
  r = run(*changer_, res_cdb(0, true, false, 0, 0xFFFF, 100), 4096);
  ASSERT_EQ(r.data.size(), 100u);
  elements_of(r, &report);
  EXPECT_TRUE(report.truncated);
  EXPECT_EQ(report.available, 15);
  Answer full = run(*changer_, res_cdb(0, true, false, 0, 0xFFFF, report.report_bytes + 8),
                    report.report_bytes + 8);
  EXPECT_EQ(full.data.size(), report.report_bytes + 8u);
  // Beyond the last element: an empty report. Unknown type: refused.
  r = run(*changer_, res_cdb(3, false, false, PORTER_BASE + 5, 10, 4096), 4096);
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.data[3], 0);
  r = run(*changer_, res_cdb(6, false, false, 0, 10, 4096), 4096);
  EXPECT_EQ(r.key(), 0x05);
}

TEST_F(Provider_Test, ModeSensePage1DGivesTheAddressMap) {
  Answer r = run(*changer_, {0x1A, 0x08, 0x1D, 0, 255, 0}, 255);
  ASSERT_EQ(r.status, 0);
  d2t::scsi::Element_Map map;
  ASSERT_TRUE(d2t::scsi::parse_element_map(r.data.data(), r.data.size(), map));
  EXPECT_EQ((std::vector<int>{map.storage_first, map.storage_count, map.import_export_first,
                              map.import_export_count, map.data_transfer_first,
                              map.data_transfer_count, map.transport_count}),
            (std::vector<int>{STORAGE_BASE, 10, PORTER_BASE, 2, DRIVE_BASE, 2, 1}));
  Answer ten = run(*changer_, {0x5A, 0x08, 0x1D, 0, 0, 0, 0, 0, 255, 0}, 255);
  ASSERT_EQ(ten.status, 0);
  ASSERT_EQ(ten.data.size(), 8u + 20);
  EXPECT_EQ(ten.data[8], 0x1D);
  EXPECT_EQ(run(*changer_, {0x1A, 0, 0x1C, 0, 255, 0}, 255).key(), 0x05);
}

TEST_F(Provider_Test, FailuresCarrySenseAndRequestSenseRepeatsIt) {
  Answer r = run(*changer_, move_cdb(STORAGE_BASE + 5, STORAGE_BASE + 6));
  EXPECT_EQ((std::vector<int>{r.status, r.key(), r.asc(), r.ascq()}),
            (std::vector<int>{2, 0x05, 0x3B, 0x0E}));
  Answer rs = run(*changer_, {0x03, 0, 0, 0, 18, 0}, 18);
  ASSERT_EQ(rs.data.size(), 18u);
  EXPECT_EQ(rs.data[12], 0x3B);
  rs = run(*changer_, {0x03, 0, 0, 0, 18, 0}, 18);
  EXPECT_EQ(rs.data[2], 0);  // forgotten once reported
  EXPECT_EQ(run(*changer_, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512).asc(), 0x20);
  EXPECT_EQ(run(*changer_, {0xB8, 0}).key(), 0x05);  // short CDB
}

// Readiness after a load and the attributes of the loaded cartridge are
// checked through the tools' drive questions; here what an eject leaves.
TEST_F(Provider_Test, EjectedCartridgeStaysNotReadyUntilTakenHome) {
  std::unique_ptr<d2t::scsi::Transport> drive = open("/dev/st1");
  ASSERT_EQ(run(*changer_, move_cdb(STORAGE_BASE + 1, DRIVE_BASE)).status, 0);
  EXPECT_EQ(run(*drive, TEST_UNIT_READY).key(), 0x06);
  const Bytes read_attribute = {0x8C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(run(*drive, read_attribute, 256).status, 0);
  EXPECT_EQ(run(*drive, EJECT).status, 0);
  EXPECT_EQ(run(*drive, TEST_UNIT_READY).asc(), 0x04);
  EXPECT_EQ(run(*drive, read_attribute, 256).key(), 0x02);
  EXPECT_EQ(run(*changer_, move_cdb(DRIVE_BASE, STORAGE_BASE + 1)).status, 0);
  EXPECT_EQ(run(*drive, EJECT).asc(), 0x3A);
}

// What the tools make of each identifier is checked in their identity
// test; here the descriptors themselves.
TEST_F(Provider_Test, DvcidAndElementIdentifierShapeTheDriveIdentifiers) {
  struct Case {
    const char* dvcid;
    const char* drive_a_keys;
    const char* drive_a;  // the drive elements asked with DVCID, described
    const char* drive_b;
  } const cases[] = {
      {"none", "", "4 0100", "4 0101"},
      {"t10", "", "4 0100 id EMUVEND/TAPEDRIVE/DRV-A", "4 0101 id EMUVEND/TAPEDRIVE/DRV-B"},
      {"t10", R"("element_identifier": "OTHER-SERIAL-1")",
       "4 0100 id EMUVEND/TAPEDRIVE/OTHER-SERIAL-1", "4 0101 id EMUVEND/TAPEDRIVE/DRV-B"},
      {"serial", R"("element_identifier": "")", "4 0100", "4 0101 id //DRV-B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.dvcid) + " " + c.drive_a_keys);
    ASSERT_NO_FATAL_FAILURE(use(library(c.dvcid, c.drive_a_keys)));
    EXPECT_EQ((std::vector<std::string>{c.drive_a, c.drive_b}), elements(4, false, true));
  }
  // The drive itself still answers its own serial number.
  EXPECT_EQ("DRV-A", unit_serial("/dev/sg7"));

  // "reject": the bit is refused as an invalid field; without it the
  // status reads as usual.
  use(library("reject"));
  Answer refused = run(*changer_, res_cdb(4, true, true, 0, 10, 4096), 4096);
  EXPECT_EQ((std::vector<int>{0x05, 0x24}), (std::vector<int>{refused.key(), refused.asc()}));
  EXPECT_EQ(2u, elements(4, true, false).size());

  // A drive without "automation_vpd" refuses the element address page.
  use(library("none", R"("automation_vpd": true)"));
  EXPECT_EQ(run(*open("/dev/sg7"), {0x12, 1, 0xB4, 0, 255, 0}, 255).status, 0);
  EXPECT_EQ(run(*open("/dev/sg6"), {0x12, 1, 0xB4, 0, 255, 0}, 255).asc(), 0x24);
}

TEST_F(Provider_Test, FullElementStatusCoversEverySlotOfALargeLibrary) {
  use(R"({"changers": [{"serial_number": "BIG", "sg_name": "/dev/sg5",
      "storage_slots": 50000, "porter_slots": 4,
      "drives": [{"serial_number": "D", "sg_name": "/dev/sg21"}],
      "fill": {"cartridges": 30000, "barcode_prefix": "X"}}]})");
  const std::vector<std::string> out = elements(2, true, false);
  ASSERT_EQ(out.size(), 50000u);
  EXPECT_EQ("2 D34F", out.back());
  EXPECT_EQ("2 852F full from 852F medium 1 tag X29999L9", out[29999]);
}

}  // namespace
}  // namespace emulator
}  // namespace d2t
