#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "d2t/scsi/attributes.h"
#include "d2t/scsi/bytes.h"
#include "d2t/scsi/inquiry.h"

namespace d2t {
namespace scsi {
namespace {

TEST(Inquiry_Decoder, Table) {
  std::vector<std::uint8_t> d(36, ' ');
  d[0] = PERIPHERAL_CHANGER | 0x20;  // qualifier bits
  std::fill(d.begin() + 1, d.begin() + 8, 0);
  std::memcpy(&d[8], "QUILLON", 7);
  std::memcpy(&d[16], "TAPE LIBRARY", 12);
  std::memcpy(&d[32], "0100", 4);
  Inquiry_Data id;
  ASSERT_TRUE(parse_inquiry(d.data(), d.size(), id));
  EXPECT_EQ(PERIPHERAL_CHANGER, id.peripheral_type);
  EXPECT_EQ("QUILLON|TAPE LIBRARY|0100", id.vendor + "|" + id.product + "|" + id.revision);

  d.resize(35);
  Inquiry_Data untouched;
  untouched.vendor = "x";
  EXPECT_FALSE(parse_inquiry(d.data(), d.size(), untouched));
  EXPECT_EQ("x", untouched.vendor);
  EXPECT_FALSE(parse_inquiry(nullptr, 0, untouched));
}

TEST(Block_Limits_Decoder, Table) {
  const std::uint8_t good[] = {0x00, 0x80, 0x00, 0x00, 0x00, 0x01};
  std::uint32_t max = 7, min = 7;
  ASSERT_TRUE(parse_block_limits(good, sizeof good, max, min));
  EXPECT_EQ(0x800000u, max);
  EXPECT_EQ(1u, min);
  max = min = 7;
  EXPECT_FALSE(parse_block_limits(good, 5, max, min));
  EXPECT_EQ(7u, max);
  EXPECT_FALSE(parse_block_limits(nullptr, 0, max, min));
}

std::vector<std::uint8_t> attribute(std::uint16_t id, std::uint8_t format,
                                    const std::vector<std::uint8_t>& value) {
  std::vector<std::uint8_t> a(5, 0);
  put_be16(&a[0], id);
  a[2] = format;
  put_be16(&a[3], static_cast<std::uint16_t>(value.size()));
  a.insert(a.end(), value.begin(), value.end());
  return a;
}

std::vector<std::uint8_t> attribute_list(const std::vector<std::vector<std::uint8_t>>& attrs) {
  std::vector<std::uint8_t> d(4, 0);
  for (const auto& a : attrs) d.insert(d.end(), a.begin(), a.end());
  put_be32(&d[0], static_cast<std::uint32_t>(d.size() - 4));
  return d;
}

TEST(Attribute_Decoder, Table) {
  const auto remaining = attribute(MAM_REMAINING_CAPACITY, 0, {0, 0, 0, 0, 0, 0x10, 0, 0});
  const auto maximum = attribute(MAM_MAXIMUM_CAPACITY, 0, {0, 0, 0, 0, 0, 0x10, 0x00, 0x01});
  const auto text = attribute(0x0800, 1, {'A', 'B'});
  auto full = attribute_list({remaining, maximum, text});
  auto cut_in_value = full;
  cut_in_value.resize(full.size() - 1);  // the device had more than we read
  auto lying = full;
  put_be32(&lying[0], static_cast<std::uint32_t>(full.size() - 4 - 1));

  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    bool ok;
    std::size_t count;
  };
  const Case cases[] = {
      {"valid", full, true, 3},
      {"empty list", attribute_list({}), true, 0},
      {"cut by allocation", cut_in_value, true, 2},
      {"length splits an attribute", lying, false, 0},
      {"header cut", {0, 0, 0}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Attribute> attrs;
    EXPECT_EQ(c.ok, parse_attributes(c.data.data(), c.data.size(), attrs));
    EXPECT_EQ(c.count, attrs.size());
  }

  std::vector<Attribute> attrs;
  ASSERT_TRUE(parse_attributes(full.data(), full.size(), attrs));
  std::uint64_t v = 0;
  ASSERT_TRUE(attribute_number(attrs[1], v));
  EXPECT_EQ(0x100001u, v);
  EXPECT_FALSE(attribute_number(attrs[2], v));  // ASCII
}

}  // namespace
}  // namespace scsi
}  // namespace d2t
