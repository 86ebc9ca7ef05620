#include "d2t/emulator/element_report.h"

#include <algorithm>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/spc.h"

namespace d2t {
namespace emulator {

namespace {

const std::size_t HEADER_LEN = 8;
const std::size_t DESCRIPTOR_BASE = 12;
const std::size_t VOLUME_TAG_LEN = 36;

// A run of consecutive elements of one type inside the address space.
struct Range {
  std::uint8_t type;
  std::uint16_t first_address;
  std::uint32_t count;
};

// Parses "H:C:T" and gives T; 0 when the name has another shape.
std::uint8_t target_id(const std::string& target_name) {
  std::string::size_type p = target_name.rfind(':');
  if (p == std::string::npos) return 0;
  unsigned long v = 0;
  for (char ch : target_name.substr(p + 1)) {
    if (ch < '0' || ch > '9') return 0;
    v = v * 10 + static_cast<unsigned long>(ch - '0');
    if (v > 255) return 0;
  }
  return static_cast<std::uint8_t>(v);
}

}  // namespace

std::vector<std::uint8_t> build_element_status(const Changer_Config& config,
                                               const Changer_State& state,
                                               const Element_Request& request) {
  if (request.type > ET_DRIVE) return {};
  // Address order: transport, drives, porters, storage.
  const Range ranges[] = {
      {ET_TRANSPORT, TRANSPORT_ADDRESS, 1},
      {ET_DRIVE, DRIVE_BASE, state.drives},
      {ET_PORTER, PORTER_BASE, state.porter},
      {ET_STORAGE, STORAGE_BASE, state.storage},
  };
  // Identifiers are as long as the longest one, shorter ones space padded.
  const bool t10 = config.dvcid == Dvcid::T10;
  const bool with_ids =
      request.device_ids && (t10 || config.dvcid == Dvcid::SERIAL);
  std::size_t serial_len = 0;
  for (const Drive_Config& d : config.drives)
    serial_len = std::max(serial_len, d.reported_identifier().size());
  const std::size_t id_len =
      std::max<std::size_t>(std::min<std::size_t>((t10 ? 24 : 0) + serial_len, 255), 1);

  std::vector<std::uint8_t> out(HEADER_LEN, 0);
  std::uint32_t left = request.count;
  std::uint32_t reported = 0;
  std::uint16_t first_reported = 0;
  for (const Range& range : ranges) {
    if (left == 0) break;
    if (request.type != ET_ALL && request.type != range.type) continue;
    if (range.count == 0) continue;
    std::uint32_t last = range.first_address + range.count - 1;
    if (last < request.start) continue;
    std::uint32_t begin = std::max<std::uint32_t>(range.first_address, request.start);
    std::uint32_t n = std::min(left, last - begin + 1);
    left -= n;

    const bool ids = with_ids && range.type == ET_DRIVE;
    const std::size_t desc_len = DESCRIPTOR_BASE +
                                 (request.volume_tags ? VOLUME_TAG_LEN : 0) +
                                 (ids ? 4 + id_len : 0);
    std::size_t page = out.size();
    out.resize(page + 8 + n * desc_len, 0);
    out[page] = range.type;
    out[page + 1] = request.volume_tags ? 0x80 : 0x00;
    put16(&out[page + 2], static_cast<std::uint32_t>(desc_len));
    put24(&out[page + 5], static_cast<std::uint32_t>(n * desc_len));
    if (reported == 0) first_reported = static_cast<std::uint16_t>(begin);
    reported += n;

    std::uint8_t* d = &out[page + 8];
    for (std::uint32_t a = begin; a < begin + n; ++a, d += desc_len) {
      put16(d, a);
      std::int32_t element = range.type == ET_TRANSPORT
                                 ? -1
                                 : element_of_address(state, static_cast<std::uint16_t>(a));
      const Cartridge_State* c = nullptr;
      if (element >= 0 && state.occupant[element] >= 0)
        c = &state.cartridges[state.occupant[element]];
      std::uint8_t flags = c ? 0x01 : 0x00;
      if (range.type != ET_TRANSPORT) flags |= 0x08;    // Access
      if (range.type == ET_PORTER) flags |= 0x30;       // InEnab, ExEnab
      d[2] = flags;
      if (range.type == ET_DRIVE) {
        const Drive_Config& dc = config.drives[a - DRIVE_BASE];
        d[6] = static_cast<std::uint8_t>(0x30 | (dc.lun & 0x07));  // ID, LU valid
        d[7] = target_id(dc.target_name);
      }
      if (c) {
        d[9] = c->cleaning ? 2 : 1;
        if (c->source >= 0) {
          d[9] |= 0x80;  // SValid
          put16(d + 10, address_of_element(state, c->source));
        }
      }
      std::size_t off = DESCRIPTOR_BASE;
      if (request.volume_tags) {
        // A readable label is space padded; an empty element or an
        // unreadable label leaves the field zero, as libraries do.
        if (c && !c->barcode.empty()) put_ascii(d + off, 32, c->barcode);
        off += VOLUME_TAG_LEN;
      }
      if (ids) {
        const Drive_Config& dc = config.drives[a - DRIVE_BASE];
        d[off] = 0x02;  // code set: ASCII
        d[off + 3] = static_cast<std::uint8_t>(id_len);
        if (t10) {
          d[off + 1] = 0x01;  // type: T10 vendor id
          put_ascii(d + off + 4, 8, dc.vendor);
          put_ascii(d + off + 12, 16, dc.model);
          put_ascii(d + off + 28, id_len - 24, dc.reported_identifier());
        } else {
          d[off + 1] = 0x00;  // type: vendor specific, the serial alone
          put_ascii(d + off + 4, id_len, dc.reported_identifier());
        }
      }
    }
  }
  put16(&out[0], first_reported);
  put16(&out[2], reported);
  put24(&out[5], static_cast<std::uint32_t>(out.size() - HEADER_LEN));
  return out;
}

std::vector<std::uint8_t> element_address_page(const Changer_State& state) {
  std::vector<std::uint8_t> p(20, 0);
  p[0] = 0x1D;
  p[1] = 0x12;
  put16(&p[2], TRANSPORT_ADDRESS);
  put16(&p[4], 1);
  put16(&p[6], STORAGE_BASE);
  put16(&p[8], state.storage);
  put16(&p[10], PORTER_BASE);
  put16(&p[12], state.porter);
  put16(&p[14], DRIVE_BASE);
  put16(&p[16], state.drives);
  return p;
}

std::vector<std::uint8_t> capabilities_page() {
  std::vector<std::uint8_t> p(20, 0);
  p[0] = 0x1F;
  p[1] = 0x12;
  p[2] = 0x0E;  // storage, import/export and data transfer elements hold media
  // Moves possible from each element type to storage, import/export and
  // data transfer elements.
  for (int i = 4; i < 8; ++i) p[i] = 0x0E;
  return p;
}

}  // namespace emulator
}  // namespace d2t
