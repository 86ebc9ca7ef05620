#include "d2t/scsi/attributes.h"

#include "d2t/scsi/bytes.h"

namespace d2t {
namespace scsi {

bool parse_attributes(const std::uint8_t* data, std::size_t len, std::vector<Attribute>& out) {
  if (!data || len < 4) return false;
  std::size_t end = 4 + std::size_t(get_be32(data));
  bool truncated = end > len;
  if (truncated) end = len;
  std::vector<Attribute> attrs;
  std::size_t pos = 4;
  while (pos < end) {
    if (pos + 5 > end) {
      if (truncated) break;
      return false;
    }
    Attribute a;
    a.id = get_be16(data + pos);
    a.format = data[pos + 2] & 0x03;
    a.length = get_be16(data + pos + 3);
    if (pos + 5 + a.length > end) {
      if (truncated) break;
      return false;
    }
    a.value = data + pos + 5;
    attrs.push_back(a);
    pos += 5 + a.length;
  }
  out.swap(attrs);
  return true;
}

bool attribute_number(const Attribute& a, std::uint64_t& value) {
  if (a.format != 0 || a.length == 0 || a.length > 8 || !a.value) return false;
  value = get_be_n(a.value, a.length);
  return true;
}

}  // namespace scsi
}  // namespace d2t
