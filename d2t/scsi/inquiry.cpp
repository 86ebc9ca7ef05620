#include "d2t/scsi/inquiry.h"

#include "d2t/scsi/bytes.h"

namespace d2t {
namespace scsi {

bool parse_inquiry(const std::uint8_t* data, std::size_t len, Inquiry_Data& out) {
  if (!data || len < 36) return false;
  Inquiry_Data d;
  d.peripheral_type = data[0] & 0x1F;
  d.vendor = trimmed_ascii(data + 8, 8);
  d.product = trimmed_ascii(data + 16, 16);
  d.revision = trimmed_ascii(data + 32, 4);
  out = std::move(d);
  return true;
}

bool parse_unit_serial(const std::uint8_t* data, std::size_t len, std::string& serial) {
  if (!data || len < 4 || data[1] != 0x80) return false;
  std::size_t page_len = get_be16(data + 2);
  if (4 + page_len > len) return false;
  serial = trimmed_ascii(data + 4, page_len);
  return true;
}

bool parse_block_limits(const std::uint8_t* data, std::size_t len, std::uint32_t& max_block,
                        std::uint32_t& min_block) {
  if (!data || len < 6) return false;
  max_block = get_be24(data + 1);
  min_block = get_be16(data + 4);
  return true;
}

}  // namespace scsi
}  // namespace d2t
