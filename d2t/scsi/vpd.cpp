#include "d2t/scsi/vpd.h"

#include "d2t/scsi/bytes.h"

namespace d2t {
namespace scsi {

namespace {

// The page body (after the 4-byte header) when the page is `code` and its
// length lies inside the data.
bool page_body(const std::uint8_t* data, std::size_t len, std::uint8_t code,
               const std::uint8_t*& body, std::size_t& body_len) {
  if (!data || len < 4 || data[1] != code) return false;
  body_len = get_be16(data + 2);
  if (4 + body_len > len) return false;
  body = data + 4;
  return true;
}

}  // namespace

bool parse_supported_pages(const std::uint8_t* data, std::size_t len,
                           std::vector<std::uint8_t>& pages) {
  const std::uint8_t* body = nullptr;
  std::size_t n = 0;
  if (!page_body(data, len, 0x00, body, n)) return false;
  pages.assign(body, body + n);
  return true;
}

bool parse_device_identification(const std::uint8_t* data, std::size_t len,
                                 std::vector<Designator>& out) {
  const std::uint8_t* body = nullptr;
  std::size_t n = 0;
  if (!page_body(data, len, 0x83, body, n)) return false;
  std::vector<Designator> found;
  std::size_t pos = 0;
  while (pos + 4 <= n) {
    const std::uint8_t* d = body + pos;
    const std::size_t d_len = d[3];
    if (pos + 4 + d_len > n) return false;
    Designator g;
    g.code_set = d[0] & 0x0F;
    g.type = d[1] & 0x0F;
    g.association = (d[1] >> 4) & 0x03;
    g.value.assign(reinterpret_cast<const char*>(d + 4), d_len);
    found.push_back(std::move(g));
    pos += 4 + d_len;
  }
  out.swap(found);
  return true;
}

bool parse_automation_serial(const std::uint8_t* data, std::size_t len, std::string& serial) {
  const std::uint8_t* body = nullptr;
  std::size_t n = 0;
  if (!page_body(data, len, 0xB3, body, n)) return false;
  serial = trimmed_ascii(body, n);
  return true;
}

bool parse_element_address(const std::uint8_t* data, std::size_t len, std::uint16_t& address) {
  const std::uint8_t* body = nullptr;
  std::size_t n = 0;
  if (!page_body(data, len, 0xB4, body, n) || n == 0 || n > 8) return false;
  const std::uint64_t v = get_be_n(body, n);
  if (v > 0xFFFF) return false;
  address = static_cast<std::uint16_t>(v);
  return true;
}

}  // namespace scsi
}  // namespace d2t
