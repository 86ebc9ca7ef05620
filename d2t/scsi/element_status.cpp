#include "d2t/scsi/element_status.h"

#include <algorithm>

#include "d2t/scsi/bytes.h"

namespace d2t {
namespace scsi {

bool parse_element_map(const std::uint8_t* data, std::size_t len, Element_Map& out) {
  if (!data || len < 4) return false;
  // Mode parameter header (6): mode data length excludes its own byte.
  std::size_t total = std::size_t(data[0]) + 1;
  if (total < len) len = total;
  std::size_t off = 4 + data[3];  // skip block descriptors, if any
  if (off + 2 > len) return false;
  const std::uint8_t* p = data + off;
  if ((p[0] & 0x3F) != MODE_PAGE_ELEMENT_ADDRESS || p[1] < 0x12) return false;
  if (off + 20 > len) return false;
  Element_Map m;
  m.transport_first = get_be16(p + 2);
  m.transport_count = get_be16(p + 4);
  m.storage_first = get_be16(p + 6);
  m.storage_count = get_be16(p + 8);
  m.import_export_first = get_be16(p + 10);
  m.import_export_count = get_be16(p + 12);
  m.data_transfer_first = get_be16(p + 14);
  m.data_transfer_count = get_be16(p + 16);
  out = m;
  return true;
}

namespace {

const std::size_t HEADER_LEN = 8;
const std::size_t PAGE_HEADER_LEN = 8;
const std::size_t DESCRIPTOR_MIN = 12;
const std::size_t VOLUME_TAG_LEN = 36;
const std::size_t VOLUME_ID_LEN = 32;

bool fail(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

void decode_identifier(const std::uint8_t* d, std::size_t room, Element& e) {
  if (room < 4) return;
  const std::uint8_t code_set = d[0] & 0x0F;
  const std::uint8_t id_type = d[1] & 0x0F;
  // The identifier ends where its length says or where the descriptor
  // ends, whichever comes first.
  const std::size_t id_len = std::min<std::size_t>(d[3], room - 4);
  if (id_len == 0) return;
  const std::uint8_t* id = d + 4;
  e.device_id_code_set = code_set;
  e.device_id_type = id_type;
  e.device_id.assign(reinterpret_cast<const char*>(id), id_len);
  // Only text identifiers name a serial number (code set 0, reserved, is
  // taken as text as libraries that leave it unset mean it).
  if (code_set == 1) return;
  if (id_type == 1) {
    e.device_vendor = trimmed_ascii(id, std::min<std::size_t>(id_len, 8));
    if (id_len > 8) e.device_product = trimmed_ascii(id + 8, std::min<std::size_t>(id_len - 8, 16));
    if (id_len > 24) e.device_serial = trimmed_ascii(id + 24, id_len - 24);
  } else {
    e.device_serial = trimmed_ascii(id, id_len);
  }
}

void decode_descriptor(const std::uint8_t* d, std::size_t desc_len, Element_Type type, bool pvoltag,
                       bool avoltag, Element& e) {
  e.type = type;
  e.address = get_be16(d);
  e.full = (d[2] & 0x01) != 0;
  e.import_export = type == ELEMENT_IMPORT_EXPORT && (d[2] & 0x02) != 0;
  e.except = (d[2] & 0x04) != 0;
  e.asc = d[4];
  e.ascq = d[5];
  e.source_valid = (d[9] & 0x80) != 0;
  e.medium_type = d[9] & 0x07;
  e.source = get_be16(d + 10);
  std::size_t off = DESCRIPTOR_MIN;
  if (pvoltag) {
    e.volume_tag = trimmed_ascii(d + off, VOLUME_ID_LEN);
    off += VOLUME_TAG_LEN;
  }
  if (avoltag) off += VOLUME_TAG_LEN;
  if (type == ELEMENT_DATA_TRANSFER && desc_len > off)
    decode_identifier(d + off, desc_len - off, e);
}

}  // namespace

bool parse_element_status(const std::uint8_t* data, std::size_t len, std::vector<Element>& out,
                          Element_Report& report, std::string* error) {
  const std::size_t entry_size = out.size();
  if (!data || len < HEADER_LEN) return fail(error, "element status header truncated");
  Element_Report r;
  r.first_address = get_be16(data);
  r.available = get_be16(data + 2);
  r.report_bytes = get_be24(data + 5);
  std::size_t end = HEADER_LEN + r.report_bytes;
  if (end > len) {
    r.truncated = true;
    end = len;
  }
  std::size_t pos = HEADER_LEN;
  std::size_t parsed = 0;
  while (pos < end) {
    if (pos + PAGE_HEADER_LEN > end) {
      if (r.truncated) break;
      out.resize(entry_size);
      return fail(error, "element status page header truncated");
    }
    const std::uint8_t* page = data + pos;
    auto type = static_cast<Element_Type>(page[0] & 0x0F);
    bool pvoltag = (page[1] & 0x80) != 0;
    bool avoltag = (page[1] & 0x40) != 0;
    std::size_t desc_len = get_be16(page + 2);
    std::size_t page_bytes = get_be24(page + 5);
    if (type < ELEMENT_TRANSPORT || type > ELEMENT_DATA_TRANSFER) {
      out.resize(entry_size);
      return fail(error, "unknown element type");
    }
    std::size_t need =
        DESCRIPTOR_MIN + (pvoltag ? VOLUME_TAG_LEN : 0) + (avoltag ? VOLUME_TAG_LEN : 0);
    if (desc_len < need) {
      out.resize(entry_size);
      return fail(error, "element descriptor shorter than its fields");
    }
    if (page_bytes % desc_len != 0) {
      out.resize(entry_size);
      return fail(error, "element status page holds a partial descriptor");
    }
    pos += PAGE_HEADER_LEN;
    std::size_t page_end = pos + page_bytes;
    if (page_end > end) {
      if (!r.truncated) {
        out.resize(entry_size);
        return fail(error, "element status page runs past the report");
      }
      page_end = end;
    }
    for (; pos + desc_len <= page_end; pos += desc_len) {
      if (++parsed > r.available) {
        out.resize(entry_size);
        return fail(error, "more element descriptors than announced");
      }
      out.emplace_back();
      decode_descriptor(data + pos, desc_len, type, pvoltag, avoltag, out.back());
    }
    // A descriptor cut off by the end of the data: only in a truncated
    // report, whose remaining elements the caller asks for again.
    if (pos < page_end) break;
  }
  report = r;
  return true;
}

}  // namespace scsi
}  // namespace d2t
