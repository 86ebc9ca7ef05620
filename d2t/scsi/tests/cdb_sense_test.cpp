#include <gtest/gtest.h>

#include <vector>

#include "d2t/scsi/cdb.h"
#include "d2t/scsi/sense.h"

namespace d2t {
namespace scsi {
namespace {

std::vector<std::uint8_t> bytes(const Cdb& c) {
  return std::vector<std::uint8_t>(c.bytes, c.bytes + c.len);
}

TEST(Cdb_Builders, ByteForByte) {
  using V = std::vector<std::uint8_t>;
  EXPECT_EQ(V({0x00, 0, 0, 0, 0, 0}), bytes(test_unit_ready_cdb()));
  EXPECT_EQ(V({0x03, 0, 0, 0, 252, 0}), bytes(request_sense_cdb(252)));
  EXPECT_EQ(V({0x12, 0, 0, 0, 96, 0}), bytes(inquiry_cdb(false, 0x80, 96)));
  EXPECT_EQ(V({0x12, 1, 0x80, 0x01, 0x00, 0}), bytes(inquiry_cdb(true, 0x80, 256)));
  EXPECT_EQ(V({0x1A, 0x08, 0x1D, 0, 255, 0}), bytes(mode_sense6_cdb(0x1D, 255)));
  EXPECT_EQ(
      V({0xB8, 0x14, 0x10, 0x00, 0x03, 0xE8, 0x01, 0x01, 0xF4, 0x10, 0, 0}),
      bytes(read_element_status_cdb(ELEMENT_DATA_TRANSFER, 0x1000, 1000, true, true, 0x01F410)));
  EXPECT_EQ(V({0xB8, 0x02, 0, 5, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0, 0}),
            bytes(read_element_status_cdb(ELEMENT_STORAGE, 5, 1, false, false, 0x7FFFFFFF)));
  EXPECT_EQ(V({0xA5, 0, 0, 0, 0x10, 0x02, 0x01, 0x03, 0, 0, 0, 0}),
            bytes(move_medium_cdb(0, 0x1002, 0x0103)));
  EXPECT_EQ(V({0x05, 0, 0, 0, 0, 0}), bytes(read_block_limits_cdb()));
  EXPECT_EQ(V({0x1B, 0, 0, 0, 0, 0}), bytes(load_unload_cdb(false, false)));
  EXPECT_EQ(V({0x1B, 1, 0, 0, 1, 0}), bytes(load_unload_cdb(true, true)));
  EXPECT_EQ(V({0x8C, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x08, 0, 0, 0x10, 0, 0, 0}),
            bytes(read_attribute_cdb(0x0408, 4096)));
}

struct Sense_Case {
  const char* name;
  std::vector<std::uint8_t> data;
  bool ok;
  Sense expected;
};

TEST(Sense_Decoder, Table) {
  auto fixed_short = build_fixed_sense(SK_NOT_READY, 0x3A, 0);
  fixed_short.resize(8);
  const Sense_Case cases[] = {
      {"fixed", build_fixed_sense(SK_NOT_READY, 0x04, 0x01), true, {2, 4, 1}},
      {"fixed deferred", {0x71, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x28, 0}, true, {6, 0x28, 0}},
      {"descriptor", build_descriptor_sense(SK_ILLEGAL_REQUEST, 0x3B, 0x0E), true, {5, 0x3B, 0x0E}},
      {"fixed cut before asc", fixed_short, true, {2, 0, 0}},
      // Additional sense length 4: the buffer was padded past the sense
      // data by the adapter; bytes 12 and 13 are not an asc/ascq.
      {"fixed shorter than the transfer",
       {0x70, 0, 0x02, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0x3A, 0x01, 0, 0, 0, 0},
       true,
       {2, 0, 0}},
      {"fixed with exactly asc and ascq",
       {0x70, 0, 0x02, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0x3A, 0x01, 0xEE, 0xEE},
       true,
       {2, 0x3A, 0x01}},
      {"empty", {}, false, {}},
      {"fixed too short", {0x70, 0}, false, {}},
      {"descriptor too short", {0x72, 0x05, 0x24}, false, {}},
      {"unknown response code", {0x7F, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x24, 0}, false, {}},
  };
  for (const Sense_Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sense s{9, 9, 9};
    EXPECT_EQ(c.ok, decode_sense(c.data.data(), c.data.size(), s));
    const Sense want = c.ok ? c.expected : Sense{9, 9, 9};  // untouched when refused
    EXPECT_EQ((std::vector<int>{want.key, want.asc, want.ascq}),
              (std::vector<int>{s.key, s.asc, s.ascq}));
  }
}

TEST(Outcome_Classification, OrderOsTransportSenseStatus) {
  Outcome o;
  EXPECT_EQ(Failure::NONE, classify(o).failure);

  o.status = STATUS_CHECK_CONDITION;
  o.sense = build_fixed_sense(SK_HARDWARE_ERROR, 0x44, 0);
  Result r = classify(o);
  EXPECT_EQ(Failure::SENSE, r.failure);
  EXPECT_TRUE(r.is_sense(SK_HARDWARE_ERROR, 0x44, 0));

  o.driver_status = 0x08;  // "sense available" is no transport fault
  EXPECT_EQ(Failure::SENSE, classify(o).failure);
  o.host_status = 0x03;
  EXPECT_EQ(Failure::TRANSPORT, classify(o).failure);
  o.os_errno = 5;
  EXPECT_EQ(Failure::OS, classify(o).failure);

  auto answer = [](std::uint8_t status, const std::vector<std::uint8_t>& sense) {
    Outcome a;
    a.status = status, a.sense = sense;
    return a;
  };
  const auto recovered = build_fixed_sense(SK_RECOVERED_ERROR, 0x5D, 0);
  EXPECT_TRUE(classify(answer(STATUS_CHECK_CONDITION, recovered)).ok());
  EXPECT_EQ(Failure::STATUS, classify(answer(STATUS_CHECK_CONDITION, {0x00, 0x01})).failure);
  EXPECT_EQ(Failure::STATUS, classify(answer(STATUS_BUSY, {})).failure);
}

}  // namespace
}  // namespace scsi
}  // namespace d2t
