// Identifiers that tie a library's drive elements to host tape devices:
// the DVCID identifier of each data transfer element and the drive's own
// VPD pages 0x00, 0x83, 0xB3 and 0xB4.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "d2t/scsi/drive_naming.h"
#include "d2t/scsi/element_status.h"
#include "d2t/scsi/inquiry.h"
#include "d2t/scsi/tests/element_pages.h"
#include "d2t/scsi/vpd.h"

namespace d2t {
namespace scsi {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::text;
using testing::vpd;

// An untagged drive element at 0x0100 whose descriptor is `desc_len`
// bytes, with the identifier `id` of that code set and type.
Bytes drive_page(std::size_t desc_len, std::uint8_t code_set, std::uint8_t type,
                 const std::string& id, int length = -1) {
  testing::Descriptor d = testing::element(0x0100);
  d.code_set = code_set, d.id_type = type, d.identifier = id, d.id_length = length;
  return testing::Pages().page(ELEMENT_DATA_TRANSFER, false, desc_len).add(d).bytes();
}

TEST(Device_Identifier_Decoder, EachTypeAndLayout) {
  const std::string t10 = std::string("VENDOR  ") + "PRODUCT-LTO9    " + "  SER123  ";
  const std::string eui = std::string("\x50\x05\x07\x63\x00\x00\x00\x01", 8);
  struct Case {
    const char* name;
    Bytes data;
    const char* vendor_product_serial;  // "V/P/S"
    std::uint8_t type;
    std::size_t id_bytes;  // bytes kept in device_id
  } const cases[] = {
      {"type 0: the serial alone",
       drive_page(12 + 4 + 12, 2, 0, std::string(" DRV-0001\0\0\0", 12)), "//DRV-0001", 0, 12},
      {"type 1 without a serial", drive_page(12 + 4 + 24, 2, 1, t10.substr(0, 24)),
       "VENDOR/PRODUCT-LTO9/", 1, 24},
      {"type 2: binary EUI-64", drive_page(12 + 4 + 8, 1, 2, eui), "//", 2, 8},
      {"length past the descriptor: cut at its end", drive_page(12 + 4 + 6, 2, 0, "ABCDEFGHIJ"),
       "//ABCDEF", 0, 6},
      {"length past a T10 descriptor", drive_page(12 + 4 + 26, 2, 1, t10, 200),
       "VENDOR/PRODUCT-LTO9/", 1, 26},
      {"zero length: no identifier", drive_page(12 + 4 + 8, 2, 0, "SER", 0), "//", 0, 0},
      {"room for part of the header only", drive_page(12 + 3, 2, 0, "SER"), "//", 0, 0},
      {"all blanks and NULs", drive_page(12 + 4 + 8, 2, 0, std::string("  \0 \0  \0", 8)), "//", 0,
       8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Element> out;
    Element_Report report;
    std::string error;
    ASSERT_TRUE(parse_element_status(c.data.data(), c.data.size(), out, report, &error)) << error;
    ASSERT_EQ(1u, out.size());
    const Element& e = out[0];
    EXPECT_EQ(c.vendor_product_serial,
              e.device_vendor + "/" + e.device_product + "/" + e.device_serial);
    EXPECT_EQ(c.id_bytes, e.device_id.size());
    if (c.id_bytes) {
      EXPECT_EQ(c.type, e.device_id_type);
    }
    if (c.type == 2) {  // binary: kept byte for byte, for matching
      EXPECT_EQ(eui, e.device_id);
      EXPECT_EQ(CODE_SET_BINARY, e.device_id_code_set);
    }
  }
}

TEST(Vpd_Decoder, SupportedPagesSerialsAndDrivePlacement) {
  std::vector<std::uint8_t> pages = {0x42};
  Bytes list = vpd(0x00, {0x00, 0x80, 0x83, 0xB3, 0xB4});
  ASSERT_TRUE(parse_supported_pages(list.data(), list.size(), pages));
  EXPECT_EQ((std::vector<std::uint8_t>{0x00, 0x80, 0x83, 0xB3, 0xB4}), pages);
  Bytes cut = vpd(0x00, {0x00, 0x80}, 5);
  EXPECT_FALSE(parse_supported_pages(cut.data(), cut.size(), pages));
  EXPECT_EQ(5u, pages.size());

  // The unit serial number (0x80) and the automation serial (0xB3).
  using Parse = bool (*)(const std::uint8_t*, std::size_t, std::string&);
  struct Serial_Case {
    const char* name;
    Parse parse;
    Bytes data;
    bool ok;
    const char* serial;
  } const serials[] = {
      {"0x80 blank padded", parse_unit_serial, vpd(0x80, text("  HU1234567   ")), true,
       "HU1234567"},
      {"0x80 empty", parse_unit_serial, vpd(0x80, {}), true, ""},
      {"0x80 another page", parse_unit_serial, vpd(0x83, text("ABCD")), false, nullptr},
      {"0x80 length past the data", parse_unit_serial, vpd(0x80, text("ABCD"), 20), false, nullptr},
      {"0x80 bytes after the page", parse_unit_serial, vpd(0x80, text("ABCDEFGH"), 4), true,
       "ABCD"},
      {"0x80 header cut", parse_unit_serial, {0, 0x80, 0}, false, nullptr},
      {"0xB3 NUL padded", parse_automation_serial, vpd(0xB3, text(std::string("LIB-2\0\0\0", 8))),
       true, "LIB-2"},
      {"0xB3 empty", parse_automation_serial, vpd(0xB3, {}), true, ""},
      {"0xB3 length past the data", parse_automation_serial, vpd(0xB3, text("LIB"), 12), false,
       nullptr},
      {"0xB3 bytes after the page", parse_automation_serial, vpd(0xB3, text("LIB-0003XYZ"), 8),
       true, "LIB-0003"},
      {"0xB3 another page", parse_automation_serial, vpd(0xB4, text("LIB")), false, nullptr},
  };
  for (const Serial_Case& c : serials) {
    SCOPED_TRACE(c.name);
    std::string serial = "unchanged";
    EXPECT_EQ(c.ok, c.parse(c.data.data(), c.data.size(), serial));
    EXPECT_EQ(c.ok ? c.serial : "unchanged", serial);
  }

  struct Address_Case {
    const char* name;
    Bytes data;
    bool ok;
    std::uint16_t address;
  } const addresses[] = {
      {"two bytes", vpd(0xB4, {0x01, 0x02}), true, 0x0102},
      {"four bytes, leading zeros", vpd(0xB4, {0, 0, 0x01, 0x0F}), true, 0x010F},
      {"beyond 16 bits", vpd(0xB4, {0, 1, 0, 0}), false, 0},
      {"empty field", vpd(0xB4, {}), false, 0},
      {"nine bytes", vpd(0xB4, Bytes(9, 0)), false, 0},
      {"length past the data", vpd(0xB4, {0x01}, 2), false, 0},
      {"header cut", {0x01, 0xB4, 0}, false, 0},
  };
  for (const Address_Case& c : addresses) {
    SCOPED_TRACE(c.name);
    std::uint16_t a = 0x7777;
    EXPECT_EQ(c.ok, parse_element_address(c.data.data(), c.data.size(), a));
    EXPECT_EQ(c.ok ? c.address : 0x7777, a);
  }
}

TEST(Vpd_Decoder, DeviceIdentificationDesignators) {
  const std::string naa = std::string("\x50\x01\x02\x03\x04\x05\x06\x07", 8);
  // ASCII, logical unit, T10 vendor id; then protocol 6, binary, PIV,
  // port, NAA.
  Bytes body = text(std::string("\x02\x01\x00\x14", 4) + "VENDOR  SER-0001    " +
                    std::string("\x61\x93\x00\x08", 4) + naa);
  Bytes page = vpd(0x83, body);
  std::vector<Designator> out;
  ASSERT_TRUE(parse_device_identification(page.data(), page.size(), out));
  ASSERT_EQ(2u, out.size());
  using Fields = std::tuple<int, int, int, std::string>;  // type, code set, association, value
  const auto fields = [](const Designator& d) {
    return Fields{d.type, d.code_set, d.association, d.value};
  };
  EXPECT_EQ((Fields{DESIGNATOR_T10, CODE_SET_ASCII, 0, "VENDOR  SER-0001    "}), fields(out[0]));
  EXPECT_EQ((Fields{DESIGNATOR_NAA, CODE_SET_BINARY, 1, naa}), fields(out[1]));

  // A designator running past the page length (the page itself inside
  // the data): refused, the output untouched.
  Bytes past = page;
  past[4 + 24 + 3] = 9;
  EXPECT_FALSE(parse_device_identification(past.data(), past.size(), out));
  EXPECT_EQ(2u, out.size());
  // The page length shorter than the data: only what it covers counts.
  Bytes shorter = vpd(0x83, body, 24);
  ASSERT_TRUE(parse_device_identification(shorter.data(), shorter.size(), out));
  EXPECT_EQ(1u, out.size());
  // Three stray bytes after the last designator are not one.
  Bytes stray = body;
  stray.resize(stray.size() + 3, 0);
  Bytes with_stray = vpd(0x83, stray);
  ASSERT_TRUE(parse_device_identification(with_stray.data(), with_stray.size(), out));
  EXPECT_EQ(2u, out.size());
}

// The one rule that ties an element's identifier to a host drive.
TEST(Drive_Naming, SerialRuleTable) {
  struct Row {
    const char* id_serial;
    const char* serial;
    bool names;
  } const rows[] = {
      {"DRV11", "1", false},  // short serial: equal identifiers only
      {"DRV11", "DRV11", true},
      {"000123", "123", true},  // leading zeros pad
      {"123", "000123", true},
      {"0", "000", true},
      {"VENDOR-1013000999", "1013000999", true},  // a prefix ending in a separator
      {"IBM ULT3580 1013000999", "1013000999", true},
      {"XYZ_00012345", "12345", true},  // separator, then zeros
      {"XYZ012345", "12345", false},    // letters and a zero are no boundary
      {"A1013000999", "1013000999", false},
      {"1013000999", "013000999", false},  // zeros pad a number, never cut one
      {"DRV-11", "11", false},             // short: no tail match even at a separator
      {"D0001", "LIB-D0001", false},       // the serial longer than the identifier
      {"", "X", false},
      {"X", "", false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(r.names, serial_names(r.id_serial, r.serial)) << r.id_serial << " / " << r.serial;
  // Blanks and NULs around either side are no part of it.
  EXPECT_TRUE(serial_names(std::string(" \0LIB-D0001 \0", 13), "D0001 "));
}

TEST(Drive_Naming, EvidenceAgreesDisagreesOrSaysNothing) {
  auto element = [](std::uint16_t address, std::uint8_t code_set, std::uint8_t type,
                    const std::string& id) {
    Element_Identity e;
    e.address = address;
    e.code_set = code_set;
    e.id_type = type;
    e.identifier = id;
    e.serial = identifier_serial(code_set, type, id);
    return e;
  };
  auto host = [](const std::string& serial, const std::string& library = "",
                 std::uint16_t address = 0) {
    Drive_Identity h;
    h.unit_serial = serial;
    h.placed = !library.empty();
    h.automation_serial = library;
    h.element_address = address;
    return h;
  };
  const std::string t10 =
      "VENDOR  PRODUCT-16-BYTES"
      "SER-0001";
  const Element_Identity e_t10 = element(0x100, CODE_SET_ASCII, DESIGNATOR_T10, t10);
  EXPECT_EQ("SER-0001", e_t10.serial);
  EXPECT_EQ("", identifier_serial(CODE_SET_ASCII, DESIGNATOR_T10, "VENDOR  PRODUCT"));
  EXPECT_EQ("", identifier_serial(CODE_SET_BINARY, DESIGNATOR_NAA, "\x50\x01"));

  struct Case {
    const char* what;
    Element_Identity e;
    Drive_Identity h;
    Verdict address, identifier;
    bool names, disagrees;
  } const cases[] = {
      {"identifier only", e_t10, host("SER-0001"), Verdict::UNKNOWN, Verdict::YES, true, false},
      {"another drive", e_t10, host("SER-0002"), Verdict::UNKNOWN, Verdict::NO, false, false},
      {"both agree", e_t10, host("SER-0001", "LIB ", 0x100), Verdict::YES, Verdict::YES, true,
       false},
      {"0xB4 here, identifier elsewhere", e_t10, host("SER-0002", "LIB", 0x100), Verdict::YES,
       Verdict::NO, false, true},
      {"identifier here, 0xB4 elsewhere", e_t10, host("SER-0001", "LIB", 0x101), Verdict::NO,
       Verdict::YES, false, true},
      {"0xB3 of another library: identifier decides", e_t10, host("SER-0001", "OTHER", 0x101),
       Verdict::UNKNOWN, Verdict::YES, true, false},
      {"no identifier: 0xB4 decides", element(0x100, 0, 0, ""), host("X", "LIB", 0x100),
       Verdict::YES, Verdict::UNKNOWN, true, false},
      {"host without serial", e_t10, host(""), Verdict::UNKNOWN, Verdict::UNKNOWN, false, false},
  };
  for (const Case& c : cases) {
    const Naming n = drive_naming("LIB", c.e, c.h);
    EXPECT_EQ(std::make_tuple(c.address, c.identifier, c.names, c.disagrees),
              std::make_tuple(n.address, n.identifier, n.names(), n.disagrees()))
        << c.what;
  }

  // Binary identifiers against designators of the same type.
  const std::string naa("\x50\x01\x02\x03\x04\x05\x06\x07", 8);
  const Element_Identity e_naa = element(0x101, CODE_SET_BINARY, DESIGNATOR_NAA, naa);
  Drive_Identity with_naa = host("S1"), other_naa = host("S2"), no_naa = host("S3");
  with_naa.designators.push_back({CODE_SET_BINARY, DESIGNATOR_NAA, naa});
  other_naa.designators.push_back({CODE_SET_BINARY, DESIGNATOR_NAA, std::string(8, 'x')});
  no_naa.designators.push_back({CODE_SET_BINARY, DESIGNATOR_EUI64, naa});
  EXPECT_EQ(Verdict::YES, drive_naming("LIB", e_naa, with_naa).identifier);
  EXPECT_EQ(Verdict::NO, drive_naming("LIB", e_naa, other_naa).identifier);
  EXPECT_EQ(Verdict::UNKNOWN, drive_naming("LIB", e_naa, no_naa).identifier);

  // Elsewhere only when every host was read and each one says "not it".
  const std::vector<Drive_Identity> others = {host("SER-0002"), host("1"), host("Z", "LIB", 0x101)};
  EXPECT_TRUE(attached_elsewhere("LIB", e_t10, others, true));
  EXPECT_FALSE(attached_elsewhere("LIB", e_t10, others, false));
  EXPECT_FALSE(attached_elsewhere("LIB", e_t10, {host("SER-0002"), host("")}, true));
  EXPECT_FALSE(attached_elsewhere("LIB", e_t10, {host("SER-0001")}, true));
  EXPECT_FALSE(attached_elsewhere("LIB", element(0x100, 0, 0, ""), {host("A")}, true));
  EXPECT_FALSE(attached_elsewhere("LIB", e_naa, {no_naa}, true));
  EXPECT_TRUE(attached_elsewhere("LIB", e_naa, {other_naa}, true));
}

}  // namespace
}  // namespace scsi
}  // namespace d2t
