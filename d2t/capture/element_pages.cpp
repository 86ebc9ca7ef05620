#include "d2t/capture/element_pages.h"

#include <algorithm>

#include "d2t/scsi/drive_naming.h"

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

namespace {

// The identifier header's code set and type; false when the descriptor has
// no identifier.
bool identifier_kind(const std::vector<std::uint8_t>& d, std::uint8_t page_flags,
                     std::uint8_t& code_set, std::uint8_t& type) {
  const std::size_t off = 12 + ((page_flags & 0x80) ? 36 : 0) + ((page_flags & 0x40) ? 36 : 0);
  if (d.size() < off + 4) return false;
  code_set = d[off] & 0x0F;
  type = d[off + 1] & 0x0F;
  return true;
}

}  // namespace

std::string descriptor_serial(const std::vector<std::uint8_t>& d, std::uint8_t page_flags) {
  std::uint8_t code_set = 0, type = 0;
  if (!identifier_kind(d, page_flags, code_set, type)) return std::string();
  const std::vector<std::uint8_t> id = descriptor_identifier(d, page_flags);
  return d2t::scsi::identifier_serial(code_set, type, std::string(id.begin(), id.end()));
}

bool descriptor_names(const std::vector<std::uint8_t>& d, std::uint8_t page_flags,
                      const std::string& serial) {
  d2t::scsi::Element_Identity element;
  if (!identifier_kind(d, page_flags, element.code_set, element.id_type)) return false;
  const std::vector<std::uint8_t> id = descriptor_identifier(d, page_flags);
  element.identifier.assign(id.begin(), id.end());
  element.serial =
      d2t::scsi::identifier_serial(element.code_set, element.id_type, element.identifier);
  d2t::scsi::Drive_Identity host;
  host.unit_serial = serial;
  return d2t::scsi::drive_naming(std::string(), element, host).identifier ==
         d2t::scsi::Verdict::YES;
}

}  // namespace capture
}  // namespace d2t
