#include "d2t/scsi/cdb.h"

#include "d2t/scsi/bytes.h"

namespace d2t {
namespace scsi {

namespace {
Cdb make(std::uint8_t op, std::size_t len) {
  Cdb c;
  c.bytes[0] = op;
  c.len = len;
  return c;
}
}  // namespace

Cdb test_unit_ready_cdb() { return make(OP_TEST_UNIT_READY, 6); }

Cdb request_sense_cdb(std::uint8_t alloc_len) {
  Cdb c = make(OP_REQUEST_SENSE, 6);
  c.bytes[4] = alloc_len;
  return c;
}

Cdb inquiry_cdb(bool evpd, std::uint8_t page, std::uint16_t alloc_len) {
  Cdb c = make(OP_INQUIRY, 6);
  if (evpd) {
    c.bytes[1] = 0x01;
    c.bytes[2] = page;
  }
  put_be16(c.bytes + 3, alloc_len);
  return c;
}

Cdb mode_sense6_cdb(std::uint8_t page, std::uint8_t alloc_len) {
  Cdb c = make(OP_MODE_SENSE_6, 6);
  c.bytes[1] = 0x08;         // DBD: no block descriptors
  c.bytes[2] = page & 0x3F;  // PC 00b: current values
  c.bytes[4] = alloc_len;
  return c;
}

Cdb read_element_status_cdb(Element_Type type, std::uint16_t start, std::uint16_t count,
                            bool voltag, bool dvcid, std::uint32_t alloc_len) {
  Cdb c = make(OP_READ_ELEMENT_STATUS, 12);
  c.bytes[1] = static_cast<std::uint8_t>((voltag ? 0x10 : 0) | (type & 0x0F));
  put_be16(c.bytes + 2, start);
  put_be16(c.bytes + 4, count);
  c.bytes[6] = dvcid ? 0x01 : 0;
  put_be24(c.bytes + 7, alloc_len > 0xFFFFFF ? 0xFFFFFF : alloc_len);
  return c;
}

Cdb move_medium_cdb(std::uint16_t transport, std::uint16_t source, std::uint16_t destination) {
  Cdb c = make(OP_MOVE_MEDIUM, 12);
  put_be16(c.bytes + 2, transport);
  put_be16(c.bytes + 4, source);
  put_be16(c.bytes + 6, destination);
  return c;
}

Cdb read_block_limits_cdb() { return make(OP_READ_BLOCK_LIMITS, 6); }

Cdb load_unload_cdb(bool load, bool immediate) {
  Cdb c = make(OP_LOAD_UNLOAD, 6);
  c.bytes[1] = immediate ? 0x01 : 0;
  c.bytes[4] = load ? 0x01 : 0;
  return c;
}

Cdb read_attribute_cdb(std::uint16_t first, std::uint32_t alloc_len) {
  Cdb c = make(OP_READ_ATTRIBUTE, 16);
  c.bytes[1] = 0x00;  // service action: attribute values
  put_be16(c.bytes + 8, first);
  put_be32(c.bytes + 10, alloc_len);
  return c;
}

}  // namespace scsi
}  // namespace d2t
