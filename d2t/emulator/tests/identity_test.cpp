// How emulated changers and drives identify the drives: the changer's
// "dvcid" answer in element status, a drive's "element_identifier", and
// the drive-side VPD pages 0xB3/0xB4 of "automation_vpd". Checked with the
// initiator's decoders.
#include <gtest/gtest.h>

#include "d2t/emulator/config.h"
#include "d2t/emulator/emulator.h"
#include "d2t/scsi/element_status.h"
#include "d2t/scsi/inquiry.h"
#include "d2t/scsi/vpd.h"
#include "test_support.h"

namespace d2t {
namespace emulator {
namespace {

using testing_support::Answer;
using testing_support::run;
using testing_support::small_library;
using testing_support::Temp_Dir;
using testing_support::write_file;

// The library of test_support with its "dvcid" replaced and extra drive
// keys for DRV-A (drive 0).
std::string library(const std::string& dvcid, const std::string& drive_a_keys = "") {
  std::string text = small_library();
  text.replace(text.find("\"t10\""), 5, "\"" + dvcid + "\"");
  if (!drive_a_keys.empty()) {
    std::string::size_type at = text.find("\"dev_name\": \"/dev/st1\"");
    text.insert(at, drive_a_keys + ", ");
  }
  return text;
}

class Identity_Test : public ::testing::Test {
 protected:
  void use(const std::string& text) {
    write_file(file_, text);
    std::string error;
    provider_ = make_provider(file_, &error);
    ASSERT_TRUE(provider_) << error;
  }
  // Element status of the drive elements; `answer` keeps the raw reply.
  std::vector<d2t::scsi::Element> drives(bool dvcid, Answer* answer = nullptr) {
    auto changer = provider_->open("/dev/sg5", nullptr);
    Answer a = run(*changer, testing_support::res_cdb(4, true, dvcid, 0, 10, 4096), 4096);
    if (answer) *answer = a;
    return a.good() ? testing_support::elements_of(a) : std::vector<d2t::scsi::Element>();
  }
  Answer vpd(const char* device, std::uint8_t page) {
    auto t = provider_->open(device, nullptr);
    return run(*t, {0x12, 0x01, page, 0, 255, 0}, 255);
  }
  Temp_Dir dir_;
  std::string file_ = dir_.file("library.json");
  std::unique_ptr<d2t::scsi::Device_Provider> provider_;
};

TEST_F(Identity_Test, EachDvcidAnswer) {
  struct Case {
    const char* dvcid;
    const char* drive0;  // "vendor/product/serial type N", or "" for none
    const char* drive1;
  } const cases[] = {
      {"none", "", ""},
      {"t10", "EMUVEND/TAPEDRIVE/DRV-A type 1", "EMUVEND/TAPEDRIVE/DRV-B type 1"},
      {"serial", "//DRV-A type 0", "//DRV-B type 0"},
  };
  auto describe = [](const d2t::scsi::Element& e) {
    if (e.device_id.empty()) return std::string();
    return e.device_vendor + "/" + e.device_product + "/" + e.device_serial + " type " +
           std::to_string(e.device_id_type);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dvcid);
    use(library(c.dvcid));
    auto with = drives(true);
    ASSERT_EQ(2u, with.size());
    EXPECT_EQ(c.drive0, describe(with[0]));
    EXPECT_EQ(c.drive1, describe(with[1]));
    for (const auto& e : drives(false)) EXPECT_TRUE(e.device_id.empty());
  }
  // "reject": the bit is refused as an invalid field; without it the
  // status reads as usual.
  use(library("reject"));
  Answer refused;
  EXPECT_TRUE(drives(true, &refused).empty());
  EXPECT_EQ((std::vector<int>{0x05, 0x24}), (std::vector<int>{refused.key(), refused.asc()}));
  EXPECT_EQ(2u, drives(false).size());

  std::string error;
  Library_Config config;
  EXPECT_FALSE(parse_library(library("sometimes"), file_, config, &error));
  EXPECT_NE(std::string::npos, error.find("dvcid")) << error;
}

TEST_F(Identity_Test, ElementIdentifierReplacesTheSerialInElementStatusOnly) {
  use(library("t10", R"("element_identifier": "OTHER-SERIAL-1")"));
  auto t10 = drives(true);
  ASSERT_EQ(2u, t10.size());
  EXPECT_EQ("OTHER-SERIAL-1", t10[0].device_serial);
  EXPECT_EQ("DRV-B", t10[1].device_serial);  // padded to the longest, trimmed
  use(library("serial", R"("element_identifier": "")"));
  auto serial = drives(true);
  EXPECT_EQ("", serial[0].device_serial);
  EXPECT_EQ("DRV-B", serial[1].device_serial);
  // The drive itself still answers its own serial number.
  Answer unit = vpd("/dev/sg7", 0x80);
  std::string s;
  ASSERT_TRUE(d2t::scsi::parse_unit_serial(unit.data.data(), unit.data.size(), s));
  EXPECT_EQ("DRV-A", s);
}

TEST_F(Identity_Test, AutomationVpdListsAndAnswersTheDrivePlacement) {
  use(library("none", R"("automation_vpd": true)"));
  std::vector<std::uint8_t> pages;
  Answer list = vpd("/dev/sg7", 0x00);
  ASSERT_TRUE(d2t::scsi::parse_supported_pages(list.data.data(), list.data.size(), pages));
  EXPECT_EQ((std::vector<std::uint8_t>{0x00, 0x80, 0x83, 0xB3, 0xB4}), pages);
  Answer b3 = vpd("/dev/sg7", 0xB3), b4 = vpd("/dev/sg7", 0xB4);
  std::string library_serial;
  std::uint16_t address = 0;
  ASSERT_TRUE(d2t::scsi::parse_automation_serial(b3.data.data(), b3.data.size(), library_serial));
  ASSERT_TRUE(d2t::scsi::parse_element_address(b4.data.data(), b4.data.size(), address));
  EXPECT_EQ("LIB-1", library_serial);
  // Drive 0's element address, as element status reports it.
  auto elements = drives(false);
  ASSERT_FALSE(elements.empty());
  EXPECT_EQ(elements[0].address, address);

  // The other drive neither lists nor answers them.
  list = vpd("/dev/sg6", 0x00);
  ASSERT_TRUE(d2t::scsi::parse_supported_pages(list.data.data(), list.data.size(), pages));
  EXPECT_EQ((std::vector<std::uint8_t>{0x00, 0x80, 0x83}), pages);
  Answer refused = vpd("/dev/sg6", 0xB4);
  EXPECT_FALSE(refused.good());
  EXPECT_EQ(0x24, refused.asc());

  std::string error;
  Library_Config config;
  EXPECT_FALSE(parse_library(library("none", R"("automation_vpd": "yes")"), file_, config, &error));
}

}  // namespace
}  // namespace emulator
}  // namespace d2t
