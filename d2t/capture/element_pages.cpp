#include "d2t/capture/element_pages.h"

#include <algorithm>

namespace d2t {
namespace capture {

namespace {
std::uint32_t be16(const std::uint8_t* p) { return std::uint32_t(p[0]) << 8 | p[1]; }
std::uint32_t be24(const std::uint8_t* p) { return be16(p) << 8 | p[2]; }
}  // namespace

bool split_element_status(const std::uint8_t* data, std::size_t len, Raw_Report& out) {
  if (len < 8) return false;
  Raw_Report r;
  r.first_address = static_cast<std::uint16_t>(be16(data));
  r.available = static_cast<std::uint16_t>(be16(data + 2));
  r.report_bytes = be24(data + 5);
  const std::size_t end = std::min<std::size_t>(len, 8 + std::size_t(r.report_bytes));
  std::size_t off = 8;
  while (off + 8 <= end) {
    Raw_Page page;
    page.type = data[off] & 0x0F;
    page.flags = data[off + 1];
    page.descriptor_length = static_cast<std::uint16_t>(be16(data + off + 2));
    const std::size_t page_bytes = be24(data + off + 5);
    if (page.descriptor_length < 12) return false;
    const bool whole_report = 8 + page_bytes == r.report_bytes;
    page.stride = page.descriptor_length;
    if (page_bytes % page.descriptor_length != 0 && whole_report && r.available > 0 &&
        page_bytes % r.available == 0 && page_bytes / r.available >= 12)
      page.stride = page_bytes / r.available;
    const std::size_t body = off + 8;
    const std::size_t page_end = std::min(end, body + page_bytes);
    for (std::size_t d = body; d + page.stride <= page_end; d += page.stride)
      page.descriptors.emplace_back(data + d, data + d + page.stride);
    r.pages.push_back(std::move(page));
    off = body + page_bytes;
  }
  out = std::move(r);
  return true;
}

std::vector<std::uint8_t> descriptor_identifier(const std::vector<std::uint8_t>& d,
                                                std::uint8_t page_flags) {
  std::size_t off = 12 + ((page_flags & 0x80) ? 36 : 0) + ((page_flags & 0x40) ? 36 : 0);
  if (d.size() < off + 4) return {};
  const std::size_t begin = off + 4;
  const std::size_t end = std::min(d.size(), begin + d[off + 3]);
  return std::vector<std::uint8_t>(d.begin() + begin, d.begin() + end);
}

bool identifier_names(const std::vector<std::uint8_t>& identifier, const std::string& serial) {
  std::size_t e = identifier.size();
  while (e > 0 && (identifier[e - 1] == ' ' || identifier[e - 1] == 0)) --e;
  if (serial.empty() || e < serial.size()) return false;
  // The serial starts the identifier, follows a blank or NUL, or fills the
  // serial field of a T10 vendor id (after vendor 8 and product 16).
  const std::size_t at = e - serial.size();
  if (at != 0 && at != 24 && identifier[at - 1] != ' ' && identifier[at - 1] != 0) return false;
  return std::equal(serial.begin(), serial.end(), identifier.begin() + (e - serial.size()),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

}  // namespace capture
}  // namespace d2t
