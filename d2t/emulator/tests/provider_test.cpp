// The emulated devices through the provider, checked with the initiator's
// own decoders so both sides agree on the bytes.
#include <gtest/gtest.h>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/emulator.h"
#include "d2t/emulator/library.h"
#include "d2t/scsi/attributes.h"
#include "d2t/scsi/element_status.h"
#include "d2t/scsi/tests/element_pages.h"
#include "test_support.h"

namespace d2t {
namespace emulator {
namespace {

using d2t::scsi::Device_Kind;
using testing_support::Answer;
using testing_support::elements_of;
using testing_support::move_cdb;
using testing_support::res_cdb;
using testing_support::run;
using testing_support::small_library;
using testing_support::Temp_Dir;
using testing_support::write_file;

class Provider_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(file_, small_library());
    std::string error;
    provider_ = make_provider(file_, &error);
    ASSERT_TRUE(provider_) << error;
    changer_ = provider_->open("/dev/sg5", &error);
    ASSERT_TRUE(changer_) << error;
  }
  std::vector<d2t::scsi::Element> elements(std::uint8_t type, bool voltag, bool dvcid) {
    d2t::scsi::Element_Report report;
    auto out =
        elements_of(run(*changer_, res_cdb(type, voltag, dvcid, 0, 0xFFFF, 65536), 65536), &report);
    EXPECT_FALSE(report.truncated);
    return out;
  }
  Temp_Dir dir_;
  std::string file_ = dir_.file("library.json");
  std::unique_ptr<d2t::scsi::Device_Provider> provider_;
  std::unique_ptr<d2t::scsi::Transport> changer_;
};

TEST_F(Provider_Test, ListsDevicesInHostOrderAndOpensEveryName) {
  std::vector<d2t::scsi::Device_Entry> list;
  ASSERT_TRUE(provider_->list(list, nullptr));
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].sg_name, "/dev/sg5");
  EXPECT_EQ(list[0].kind, Device_Kind::CHANGER);
  EXPECT_EQ(list[1].sg_name, "/dev/sg6");
  EXPECT_EQ(list[1].dev_name, "/dev/st0");
  EXPECT_EQ(list[2].sg_name, "/dev/sg7");
  EXPECT_EQ(list[2].target_name, "2:0:2");
  for (const char* name : {"/dev/sg6", "/dev/st0", "/dev/nst0"}) {
    std::unique_ptr<d2t::scsi::Transport> t = provider_->open(name, nullptr);
    ASSERT_TRUE(t) << name;
    Answer r = run(*t, {0x12, 1, 0x80, 0, 64, 0}, 64);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(std::string(r.data.begin() + 4, r.data.end()), "DRV-B") << name;
  }
  std::string error;
  EXPECT_FALSE(provider_->open("/dev/sg8", &error));
  EXPECT_FALSE(error.empty());

  // Sorting is numeric: /dev/sg10 after /dev/sg9. Renames come from the file.
  std::string text = small_library();
  text.replace(text.find("/dev/sg7"), 8, "/dev/sg10");
  text.replace(text.find("/dev/sg6"), 8, "/dev/sg9");
  write_file(file_, text);
  ASSERT_TRUE(provider_->list(list, nullptr));
  EXPECT_EQ(list[1].sg_name, "/dev/sg9");
  EXPECT_EQ(list[2].sg_name, "/dev/sg10");
}

TEST_F(Provider_Test, ElementStatusDecodesToTheTruth) {
  ASSERT_EQ(run(*changer_, move_cdb(STORAGE_BASE, DRIVE_BASE + 1)).status, 0);
  // Each element as one line (type, address, flags, source, medium, tag, identifier).
  std::vector<std::string> all;
  for (const auto& e : elements(0, true, true)) all.push_back(d2t::scsi::testing::describe(e));
  ASSERT_EQ(all.size(), 1u + 2 + 2 + 10);
  EXPECT_EQ("1 0000", all[0]);
  EXPECT_EQ("4 0101 full from 1000 medium 1 tag T00001L9 id EMUVEND/TAPEDRIVE/DRV-B", all[2]);
  EXPECT_EQ("3 0400", all[3]);
  EXPECT_EQ("2 1000", all[5]);
  EXPECT_EQ("2 1002 full from 1002 medium 2 tag CLN001L1", all[7]);

  auto storage = elements(2, false, false);
  ASSERT_EQ(storage.size(), 10u);
  EXPECT_TRUE(storage[1].full);
  EXPECT_TRUE(storage[1].volume_tag.empty());
  auto drives = elements(4, true, false);
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_TRUE(drives[1].device_serial.empty());
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

TEST_F(Provider_Test, DriveAnswersReadinessAttributesAndEject) {
  std::unique_ptr<d2t::scsi::Transport> drive = provider_->open("/dev/st1", nullptr);
  ASSERT_TRUE(drive);
  Answer r = run(*drive, {0, 0, 0, 0, 0, 0});
  EXPECT_EQ(r.key(), 0x02);
  EXPECT_EQ(r.asc(), 0x3A);
  ASSERT_EQ(run(*changer_, move_cdb(STORAGE_BASE + 1, DRIVE_BASE)).status, 0);
  EXPECT_EQ(run(*drive, {0, 0, 0, 0, 0, 0}).key(), 0x06);
  EXPECT_EQ(run(*drive, {0, 0, 0, 0, 0, 0}).status, 0);

  std::vector<std::uint8_t> ra = {0x8C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  r = run(*drive, ra, 256);
  ASSERT_EQ(r.status, 0);
  std::vector<d2t::scsi::Attribute> attrs;
  ASSERT_TRUE(d2t::scsi::parse_attributes(r.data.data(), r.data.size(), attrs));
  std::uint64_t max = 0, type = 9;
  for (const auto& a : attrs) {
    if (a.id == d2t::scsi::MAM_MAXIMUM_CAPACITY) d2t::scsi::attribute_number(a, max);
    if (a.id == d2t::scsi::MAM_MEDIUM_TYPE) d2t::scsi::attribute_number(a, type);
  }
  EXPECT_EQ(max, 2u);  // 2097152 bytes
  EXPECT_EQ(type, 0u);

  // Eject, then the changer takes the cartridge home.
  EXPECT_EQ(run(*drive, {0x1B, 0, 0, 0, 0, 0}).status, 0);
  EXPECT_EQ(run(*drive, {0, 0, 0, 0, 0, 0}).asc(), 0x04);
  EXPECT_EQ(run(*drive, ra, 256).key(), 0x02);
  EXPECT_EQ(run(*changer_, move_cdb(DRIVE_BASE, STORAGE_BASE + 1)).status, 0);
  EXPECT_EQ(run(*drive, {0x1B, 0, 0, 0, 0, 0}).asc(), 0x3A);

  r = run(*drive, {0x05, 0, 0, 0, 0, 0}, 6);
  ASSERT_EQ(r.data.size(), 6u);
  EXPECT_EQ(r.data[5], 1);  // minimum block 1
  r = run(*drive, {0x12, 0, 0, 0, 96, 0}, 96);
  ASSERT_EQ(r.data.size(), 36u);
  EXPECT_EQ(r.data[0], 0x01);
  EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 16), "EMUVEND ");
}

TEST(Shared_Library, DriveOfAnotherHostIsAnElementWithoutADevice) {
  Temp_Dir dir;
  std::string file = dir.file("library.json");
  std::string text = small_library();
  // DRV-B is another host's drive: it keeps its element, loses its device.
  text.replace(text.find(R"("sg_name": "/dev/sg6", "dev_name": "/dev/st0"})"), 46,
               R"("attached": false})");
  write_file(file, text);
  auto provider = make_provider(file, nullptr);
  ASSERT_TRUE(provider);
  std::vector<d2t::scsi::Device_Entry> list;
  ASSERT_TRUE(provider->list(list, nullptr));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].sg_name, "/dev/sg7");
  EXPECT_FALSE(provider->open("/dev/sg6", nullptr));
  EXPECT_FALSE(provider->open("", nullptr));

  auto changer = provider->open("/dev/sg5", nullptr);
  ASSERT_TRUE(changer);
  ASSERT_EQ(run(*changer, move_cdb(STORAGE_BASE, DRIVE_BASE + 1)).status, 0);
  const auto drives = elements_of(run(*changer, res_cdb(4, true, true, 0, 0xFFFF, 4096), 4096));
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_TRUE(drives[1].full);
  EXPECT_EQ(drives[1].volume_tag, "T00001L9");
  EXPECT_EQ(drives[1].device_serial, "DRV-B");
}

TEST(Large_Library, FullElementStatusCoversEverySlot) {
  Temp_Dir dir;
  std::string file = dir.file("big.json");
  write_file(file, R"({"changers": [{"serial_number": "BIG", "sg_name": "/dev/sg20",
      "storage_slots": 50000, "porter_slots": 4,
      "drives": [{"serial_number": "D", "sg_name": "/dev/sg21"}],
      "fill": {"cartridges": 30000, "barcode_prefix": "X"}}]})");
  auto provider = make_provider(file, nullptr);
  ASSERT_TRUE(provider);
  auto changer = provider->open("/dev/sg20", nullptr);
  ASSERT_TRUE(changer);
  const std::uint32_t alloc = 4 << 20;
  const auto out = elements_of(run(*changer, res_cdb(2, true, false, 0, 0xFFFF, alloc), alloc));
  ASSERT_EQ(out.size(), 50000u);
  EXPECT_EQ(out.back().address, STORAGE_BASE + 49999);
  EXPECT_EQ(out[29999].volume_tag, "X29999L9");
  EXPECT_FALSE(out[30000].full);
}

}  // namespace
}  // namespace emulator
}  // namespace d2t
