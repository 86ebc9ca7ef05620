#include "d2t/scsi/element_status.h"

#include <gtest/gtest.h>

#include <functional>

#include "d2t/scsi/tests/element_pages.h"

namespace d2t {
namespace scsi {
namespace {

using testing::describe;
using testing::Descriptor;
using testing::element;
using testing::Pages;
using Bytes = std::vector<std::uint8_t>;

const std::uint16_t TAGGED = 12 + 36;

Bytes two_slots() {
  return Pages()
      .page(ELEMENT_STORAGE, true, TAGGED)
      .add(element(0x1000, true, "A00001L9"))
      .add(element(0x1001))
      .bytes();
}

// two_slots() altered by `edit`.
Bytes edited(const std::function<void(Bytes&)>& edit) {
  Bytes d = two_slots();
  edit(d);
  return d;
}

void set_report_length(Bytes& d) { put_be24(&d[5], static_cast<std::uint32_t>(d.size() - 8)); }

TEST(Element_Status_Decoder, Table) {
  struct Case {
    const char* name;
    Bytes data;
    bool ok;
    std::size_t elements;
    bool truncated;
  };
  const Case cases[] = {
      {"valid", two_slots(), true, 2, false},
      {"zero elements", Pages().bytes(), true, 0, false},
      {"header truncated", edited([](Bytes& d) { d.resize(5); }), false, 0, false},
      // Cut by the allocation length inside the second descriptor: the
      // first is kept, the report says more is available.
      {"report cut by allocation", edited([](Bytes& d) { d.resize(8 + 8 + TAGGED + 10); }), true, 1,
       true},
      // Page byte count larger than the report's own byte count.
      {"page runs past report", edited([](Bytes& d) { put_be24(&d[5], 8 + TAGGED); }), false, 0,
       false},
      // Bytes inside the report after the last page that do not make a page.
      {"trailing bytes inside report",
       edited([](Bytes& d) { d.resize(d.size() + 2), set_report_length(d); }), false, 0, false},
      // Bytes after the report (a longer transfer than announced) are ignored.
      {"trailing bytes after report", edited([](Bytes& d) { d.resize(d.size() + 100, 0xEE); }),
       true, 2, false},
      {"unknown element type", edited([](Bytes& d) { d[8] = 7; }), false, 0, false},
      {"descriptor shorter than tag",
       Pages().page(ELEMENT_STORAGE, true, 20).add(element(5)).bytes(), false, 0, false},
      {"more descriptors than announced", edited([](Bytes& d) { put_be16(&d[2], 1); }), false, 0,
       false},
      // Page byte count not a multiple of the descriptor length.
      {"partial descriptor in page", edited([](Bytes& d) {
         put_be24(&d[8 + 5], 2 * TAGGED - 1), d.pop_back(), set_report_length(d);
       }),
       false, 0, false},
  };
  for (const Case& c : cases) {
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
  Descriptor cleaning = element(0x1001, true, "CLN001L1");
  cleaning.medium_type = MEDIUM_CLEANING;
  Descriptor porter = element(0x0400, true);
  porter.impexp = true;
  Descriptor drive = element(0x0100, true, "A00004L9");
  drive.svalid = true;
  drive.source = 0x1003;
  drive.identifier = std::string("IBM     ") + "ULT3580-TD9     " + "1000000001";
  Descriptor drive2 = element(0x0101);
  drive2.identifier = "SERIAL-ONLY";
  drive2.id_type = 0;
  Descriptor drive3 = element(0x0102);
  drive3.identifier = std::string("\x50\x05\x07\x63\x12\x34\x56\x78", 8);
  drive3.id_type = 2;   // EUI-64
  drive3.code_set = 1;  // binary

  auto data = Pages()
                  .page(ELEMENT_TRANSPORT, false, 12)
                  .add(element(0))
                  .page(ELEMENT_STORAGE, true, TAGGED)
                  .add(element(0x1000, true, "  A00001L9"))  // leading blanks are no part of it
                  .add(cleaning)
                  .page(ELEMENT_IMPORT_EXPORT, true, TAGGED + 36, true)
                  .add(porter)
                  .page(ELEMENT_DATA_TRANSFER, true, TAGGED + 4 + 40)
                  .add(drive)
                  .add(drive2)
                  .add(drive3)
                  .page(ELEMENT_STORAGE, false, 12)  // untagged: 12-byte descriptors
                  .add(element(0x2000, true))
                  .bytes();
  std::vector<Element> out;
  Element_Report report;
  ASSERT_TRUE(parse_element_status(data.data(), data.size(), out, report, nullptr));
  const char* const expected[] = {
      "1 0000",
      "2 1000 full tag A00001L9",
      "2 1001 full medium 2 tag CLN001L1",
      "3 0400 full impexp",
      "4 0100 full from 1003 tag A00004L9 id IBM/ULT3580-TD9/1000000001",
      "4 0101 id //SERIAL-ONLY",
      "4 0102",  // binary identifier: not decoded
      "2 2000 full",
  };
  ASSERT_EQ(std::size(expected), out.size());
  for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(expected[i], describe(out[i]));
}

// A data transfer element as a library answers VolTag and DVCID when it
// also keeps alternate volume tags: the identifier follows both tags, its
// first byte carries a protocol identifier above the code set, and vendor
// bytes follow it inside the descriptor length. Written out byte by byte.
TEST(Element_Status_Decoder, DriveWithBothTagsAndDeviceIdentifier) {
  const std::size_t DESC = 12 + 36 + 36 + 4 + 34 + 6;  // 128
  Bytes d(8 + 8 + DESC, 0);
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
  EXPECT_EQ("4 0100 full from 1007 medium 1 tag B00007L8 id IBM/ULT3580-TD8/1013000999",
            describe(out[0]));

  // Cut inside the identifier by a short allocation length: nothing
  // decoded, the report says there was more.
  out.clear();
  ASSERT_TRUE(parse_element_status(d.data(), 16 + 100, out, report, &error)) << error;
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(report.truncated);
}

TEST(Element_Map_Decoder, Table) {
  // Mode parameter header (4) + page 0x1D (20): transport, storage,
  // import/export and data transfer first addresses and counts.
  Bytes good(24, 0);
  good[0] = 23;
  good[4] = 0x1D;
  good[5] = 0x12;
  const std::uint16_t fields[] = {0x0000, 1, 0x1000, 50000, 0x0400, 4, 0x0100, 64};
  for (std::size_t i = 0; i < 8; ++i) put_be16(&good[6 + 2 * i], fields[i]);

  // With an 8-byte block descriptor before the page.
  Bytes with_bd(good.begin(), good.begin() + 4);
  with_bd[3] = 8;
  with_bd.insert(with_bd.end(), 8, 0);
  with_bd.insert(with_bd.end(), good.begin() + 4, good.end());
  with_bd[0] = static_cast<std::uint8_t>(with_bd.size() - 1);
  for (const Bytes* valid : {&good, &with_bd}) {
    Element_Map m;
    ASSERT_TRUE(parse_element_map(valid->data(), valid->size(), m));
    const std::uint16_t got[] = {
        m.transport_first,     m.transport_count,     m.storage_first,       m.storage_count,
        m.import_export_first, m.import_export_count, m.data_transfer_first, m.data_transfer_count};
    EXPECT_TRUE(std::equal(std::begin(fields), std::end(fields), got));
  }

  auto wrong_page = good;
  wrong_page[4] = 0x1E;
  auto short_by_header = good;
  short_by_header[0] = 10;  // mode data length says the page is cut
  Element_Map m;
  EXPECT_FALSE(parse_element_map(wrong_page.data(), wrong_page.size(), m));
  EXPECT_FALSE(parse_element_map(good.data(), 20, m));  // cut
  EXPECT_FALSE(parse_element_map(short_by_header.data(), short_by_header.size(), m));
  EXPECT_FALSE(parse_element_map(good.data(), 3, m));
  EXPECT_FALSE(parse_element_map(nullptr, 0, m));
}

}  // namespace
}  // namespace scsi
}  // namespace d2t
