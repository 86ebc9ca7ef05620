#include "d2t/scsi/element_status.h"

#include <gtest/gtest.h>

#include "d2t/scsi/tests/element_pages.h"

namespace d2t {
namespace scsi {
namespace {

using testing::Descriptor;
using testing::Pages;

const std::uint16_t TAGGED = 12 + 36;

std::vector<std::uint8_t> two_slots() {
  Descriptor full;
  full.address = 0x1000;
  full.full = true;
  full.tag = "A00001L9";
  Descriptor empty;
  empty.address = 0x1001;
  return Pages().page(ELEMENT_STORAGE, true, TAGGED).add(full).add(empty).bytes();
}

struct Case {
  const char* name;
  std::vector<std::uint8_t> data;
  bool ok;
  std::size_t elements;
  bool truncated;
};

std::vector<Case> cases() {
  std::vector<Case> c;
  c.push_back({"valid", two_slots(), true, 2, false});
  c.push_back({"zero elements", Pages().bytes(), true, 0, false});
  {
    auto d = two_slots();
    d.resize(5);
    c.push_back({"header truncated", d, false, 0, false});
  }
  {
    // Cut by the allocation length inside the second descriptor: the
    // first is kept, the report says more is available.
    auto d = two_slots();
    d.resize(8 + 8 + TAGGED + 10);
    c.push_back({"report cut by allocation", d, true, 1, true});
  }
  {
    // Page byte count larger than the report's own byte count.
    auto d = two_slots();
    put_be24(&d[5], 8 + TAGGED);
    c.push_back({"page runs past report", d, false, 0, false});
  }
  {
    // Bytes inside the report after the last page that do not make a page.
    auto d = two_slots();
    d.push_back(0);
    d.push_back(0);
    put_be24(&d[5], static_cast<std::uint32_t>(d.size() - 8));
    c.push_back({"trailing bytes inside report", d, false, 0, false});
  }
  {
    // Bytes after the report (a longer transfer than announced) are ignored.
    auto d = two_slots();
    d.resize(d.size() + 100, 0xEE);
    c.push_back({"trailing bytes after report", d, true, 2, false});
  }
  {
    auto d = two_slots();
    d[8] = 7;
    c.push_back({"unknown element type", d, false, 0, false});
  }
  {
    Descriptor e;
    e.address = 5;
    c.push_back({"descriptor shorter than tag",
                 Pages().page(ELEMENT_STORAGE, true, 20).add(e).bytes(), false, 0, false});
  }
  {
    auto d = two_slots();
    put_be16(&d[2], 1);
    c.push_back({"more descriptors than announced", d, false, 0, false});
  }
  {
    // Page byte count not a multiple of the descriptor length.
    auto d = two_slots();
    put_be24(&d[8 + 5], 2 * TAGGED - 1);
    d.pop_back();
    put_be24(&d[5], static_cast<std::uint32_t>(d.size() - 8));
    c.push_back({"partial descriptor in page", d, false, 0, false});
  }
  return c;
}

TEST(Element_Status_Decoder, Table) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    std::vector<Element> out(1);  // entries already present stay
    Element_Report report;
    std::string error;
    bool ok = parse_element_status(c.data.data(), c.data.size(), out, report, &error);
    EXPECT_EQ(c.ok, ok) << error;
    if (ok) {
      EXPECT_EQ(c.elements + 1, out.size());
      EXPECT_EQ(c.truncated, report.truncated);
    } else {
      EXPECT_EQ(1u, out.size());
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(Element_Status_Decoder, FieldsOfEveryElementType) {
  Descriptor slot;
  slot.address = 0x1000;
  slot.full = true;
  slot.tag = "  A00001L9";  // leading blanks are not part of the tag
  Descriptor cleaning;
  cleaning.address = 0x1001;
  cleaning.full = true;
  cleaning.tag = "CLN001L1";
  cleaning.medium_type = MEDIUM_CLEANING;
  Descriptor porter;
  porter.address = 0x0400;
  porter.full = true;
  porter.impexp = true;
  Descriptor drive;
  drive.address = 0x0100;
  drive.full = true;
  drive.svalid = true;
  drive.source = 0x1003;
  drive.tag = "A00004L9";
  drive.identifier = std::string("IBM     ") + "ULT3580-TD9     " + "1000000001";
  Descriptor drive2;
  drive2.address = 0x0101;
  drive2.identifier = "SERIAL-ONLY";
  drive2.id_type = 0;
  Descriptor drive3;
  drive3.address = 0x0102;
  drive3.identifier = std::string("\x50\x05\x07\x63\x12\x34\x56\x78", 8);
  drive3.id_type = 2;   // EUI-64
  drive3.code_set = 1;  // binary
  Descriptor robot;
  robot.address = 0;
  // Untagged storage page: no PVolTag bit, descriptors of 12 bytes.
  Descriptor untagged;
  untagged.address = 0x2000;
  untagged.full = true;

  auto data = Pages()
                  .page(ELEMENT_TRANSPORT, false, 12)
                  .add(robot)
                  .page(ELEMENT_STORAGE, true, TAGGED)
                  .add(slot)
                  .add(cleaning)
                  .page(ELEMENT_IMPORT_EXPORT, true, TAGGED + 36, true)
                  .add(porter)
                  .page(ELEMENT_DATA_TRANSFER, true, TAGGED + 4 + 40)
                  .add(drive)
                  .add(drive2)
                  .add(drive3)
                  .page(ELEMENT_STORAGE, false, 12)
                  .add(untagged)
                  .bytes();
  std::vector<Element> out;
  Element_Report report;
  ASSERT_TRUE(parse_element_status(data.data(), data.size(), out, report, nullptr));
  ASSERT_EQ(8u, out.size());
  EXPECT_EQ(ELEMENT_TRANSPORT, out[0].type);
  EXPECT_EQ("A00001L9", out[1].volume_tag);
  EXPECT_TRUE(out[1].full);
  EXPECT_EQ(MEDIUM_UNSPECIFIED, out[1].medium_type);
  EXPECT_EQ(MEDIUM_CLEANING, out[2].medium_type);
  EXPECT_EQ(ELEMENT_IMPORT_EXPORT, out[3].type);
  EXPECT_TRUE(out[3].import_export);
  EXPECT_TRUE(out[3].volume_tag.empty());
  EXPECT_EQ(0x0100, out[4].address);
  EXPECT_TRUE(out[4].source_valid);
  EXPECT_EQ(0x1003, out[4].source);
  EXPECT_EQ("A00004L9", out[4].volume_tag);
  EXPECT_EQ("IBM", out[4].device_vendor);
  EXPECT_EQ("ULT3580-TD9", out[4].device_product);
  EXPECT_EQ("1000000001", out[4].device_serial);
  EXPECT_EQ("SERIAL-ONLY", out[5].device_serial);
  EXPECT_FALSE(out[5].full);
  EXPECT_EQ("", out[6].device_serial);  // binary identifier
  EXPECT_EQ(0x2000, out[7].address);
  EXPECT_TRUE(out[7].full);
  EXPECT_TRUE(out[7].volume_tag.empty());
}

// A data transfer element as a library answers VolTag and DVCID when it
// also keeps alternate volume tags: the identifier follows both tags, its
// first byte carries a protocol identifier above the code set, and vendor
// bytes follow it inside the descriptor length. Written out byte by byte.
TEST(Element_Status_Decoder, DriveWithBothTagsAndDeviceIdentifier) {
  const std::size_t DESC = 12 + 36 + 36 + 4 + 34 + 6;  // 128
  std::vector<std::uint8_t> d(8 + 8 + DESC, 0);
  auto ascii = [&](std::size_t at, const char* text) {
    for (std::size_t i = 0; text[i]; ++i) d[at + i] = static_cast<std::uint8_t>(text[i]);
  };
  // Element status header: first 0x0100, one element, 136 bytes follow.
  d[0] = 0x01, d[1] = 0x00, d[2] = 0x00, d[3] = 0x01, d[7] = 8 + DESC;
  // Page header: data transfer, PVolTag and AVolTag, 128-byte descriptors.
  d[8] = 0x04, d[9] = 0xC0, d[10] = 0x00, d[11] = DESC, d[15] = DESC;
  std::size_t b = 16;
  d[b + 0] = 0x01, d[b + 1] = 0x00;  // address 0x0100
  d[b + 2] = 0x09;                   // Access, Full
  d[b + 6] = 0x30, d[b + 7] = 0x05;  // ID and LU valid, target 5
  d[b + 9] = 0x81;                   // SValid, data medium
  d[b + 10] = 0x10, d[b + 11] = 0x07;
  for (std::size_t i = 0; i < 32; ++i) d[b + 12 + i] = d[b + 48 + i] = ' ';
  ascii(b + 12, "B00007L8");
  ascii(b + 48, "ALTERNATE");
  d[b + 84] = 0x62;  // protocol identifier 6 (SAS), code set 2 (ASCII)
  d[b + 85] = 0x01;  // T10 vendor id
  d[b + 87] = 34;
  ascii(b + 88, "IBM     ULT3580-TD8     1013000999");
  for (std::size_t i = 122; i < DESC; ++i) d[b + i] = 0xAA;

  std::vector<Element> out;
  Element_Report report;
  std::string error;
  ASSERT_TRUE(parse_element_status(d.data(), d.size(), out, report, &error)) << error;
  ASSERT_EQ(1u, out.size());
  EXPECT_FALSE(report.truncated);
  EXPECT_EQ(ELEMENT_DATA_TRANSFER, out[0].type);
  EXPECT_EQ(0x0100, out[0].address);
  EXPECT_TRUE(out[0].full);
  EXPECT_TRUE(out[0].source_valid);
  EXPECT_EQ(0x1007, out[0].source);
  EXPECT_EQ(MEDIUM_DATA, out[0].medium_type);
  EXPECT_EQ("B00007L8", out[0].volume_tag);
  EXPECT_EQ("IBM", out[0].device_vendor);
  EXPECT_EQ("ULT3580-TD8", out[0].device_product);
  EXPECT_EQ("1013000999", out[0].device_serial);

  // Cut inside the identifier by a short allocation length: nothing
  // decoded, the report says there was more.
  out.clear();
  ASSERT_TRUE(parse_element_status(d.data(), 16 + 100, out, report, &error)) << error;
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(report.truncated);
}

TEST(Element_Map_Decoder, Table) {
  // Mode parameter header (4) + page 0x1D (20).
  std::vector<std::uint8_t> good(24, 0);
  good[0] = 23;
  good[4] = 0x1D;
  good[5] = 0x12;
  put_be16(&good[4 + 2], 0x0000);
  put_be16(&good[4 + 4], 1);
  put_be16(&good[4 + 6], 0x1000);
  put_be16(&good[4 + 8], 50000);
  put_be16(&good[4 + 10], 0x0400);
  put_be16(&good[4 + 12], 4);
  put_be16(&good[4 + 14], 0x0100);
  put_be16(&good[4 + 16], 64);

  Element_Map m;
  ASSERT_TRUE(parse_element_map(good.data(), good.size(), m));
  EXPECT_EQ(0x1000, m.storage_first);
  EXPECT_EQ(50000, m.storage_count);
  EXPECT_EQ(0x0400, m.import_export_first);
  EXPECT_EQ(4, m.import_export_count);
  EXPECT_EQ(0x0100, m.data_transfer_first);
  EXPECT_EQ(64, m.data_transfer_count);

  // With an 8-byte block descriptor before the page.
  std::vector<std::uint8_t> with_bd(good.begin(), good.begin() + 4);
  with_bd[3] = 8;
  with_bd.insert(with_bd.end(), 8, 0);
  with_bd.insert(with_bd.end(), good.begin() + 4, good.end());
  with_bd[0] = static_cast<std::uint8_t>(with_bd.size() - 1);
  EXPECT_TRUE(parse_element_map(with_bd.data(), with_bd.size(), m));

  auto wrong_page = good;
  wrong_page[4] = 0x1E;
  auto cut = good;
  cut.resize(20);
  auto short_by_header = good;
  short_by_header[0] = 10;  // mode data length says the page is cut
  EXPECT_FALSE(parse_element_map(wrong_page.data(), wrong_page.size(), m));
  EXPECT_FALSE(parse_element_map(cut.data(), cut.size(), m));
  EXPECT_FALSE(parse_element_map(short_by_header.data(), short_by_header.size(), m));
  EXPECT_FALSE(parse_element_map(good.data(), 3, m));
  EXPECT_FALSE(parse_element_map(nullptr, 0, m));
}

}  // namespace
}  // namespace scsi
}  // namespace d2t
