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

// Every element type and field; the drive answers VolTag and DVCID with
// alternate volume tags kept: its identifier follows both tags, its first
// byte carries a protocol identifier (6, SAS) above the code set, and
// vendor bytes follow it inside the descriptor length.
TEST(Element_Status_Decoder, FieldsOfEveryElementType) {
  Descriptor cleaning = element(0x1001, true, "CLN001L1");
  cleaning.medium_type = MEDIUM_CLEANING;
  Descriptor porter = element(0x0400, true);
  porter.impexp = true;
  Descriptor drive = element(0x0100, true, "A00004L9");
  drive.svalid = true;
  drive.source = 0x1003;
  drive.medium_type = MEDIUM_DATA;
  drive.identifier = std::string("IBM     ") + "ULT3580-TD9     " + "1000000001";
  drive.code_set = 0x62;
  drive.pad = 0xAA;

  auto data = Pages()
                  .page(ELEMENT_TRANSPORT, false, 12)
                  .add(element(0))
                  .page(ELEMENT_STORAGE, true, TAGGED)
                  .add(element(0x1000, true, "  A00001L9"))  // leading blanks are no part of it
                  .add(cleaning)
                  .page(ELEMENT_IMPORT_EXPORT, true, TAGGED + 36, true)
                  .add(porter)
                  .page(ELEMENT_DATA_TRANSFER, true, TAGGED + 36 + 4 + 40, true)
                  .add(drive)
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
      "4 0100 full from 1003 medium 1 tag A00004L9 id IBM/ULT3580-TD9/1000000001",
      "2 2000 full",
  };
  ASSERT_EQ(std::size(expected), out.size());
  for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(expected[i], describe(out[i]));
}

TEST(Element_Map_Decoder, Table) {
  // Mode parameter header (4), `block` bytes of block descriptors, page
  // 0x1D (20): transport, storage, import/export and data transfer first
  // addresses and counts.
  const std::uint16_t fields[] = {0x0000, 1, 0x1000, 50000, 0x0400, 4, 0x0100, 64};
  auto mode_data = [&](std::uint8_t block) {
    Bytes d(4 + block + 20, 0);
    d[0] = static_cast<std::uint8_t>(d.size() - 1), d[3] = block;
    d[4 + block] = 0x1D, d[5 + block] = 0x12;
    for (std::size_t i = 0; i < 8; ++i) put_be16(&d[6 + block + 2 * i], fields[i]);
    return d;
  };
  const Bytes good = mode_data(0);
  for (const Bytes& valid : {good, mode_data(8)}) {
    Element_Map m;
    ASSERT_TRUE(parse_element_map(valid.data(), valid.size(), m));
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
