// Builds READ ELEMENT STATUS data and VPD pages for decoder tests.
#ifndef D2T_SCSI_TESTS_ELEMENT_PAGES_H
#define D2T_SCSI_TESTS_ELEMENT_PAGES_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d2t/scsi/bytes.h"
#include "d2t/scsi/element_status.h"

namespace d2t {
namespace scsi {
namespace testing {

struct Descriptor {
  std::uint16_t address = 0;
  bool full = false;
  bool impexp = false;
  bool svalid = false;
  std::uint16_t source = 0;
  std::uint8_t medium_type = 0;
  std::string tag;         // written when the page has PVolTag
  std::string identifier;  // written after the tags when not empty, cut at the descriptor's end
  std::uint8_t id_type = 1;
  std::uint8_t code_set = 2;  // ASCII
  int id_length = -1;         // the identifier's length byte, when not its size
  std::uint8_t pad = 0;       // the descriptor's bytes after the identifier
};

inline Descriptor element(std::uint16_t address, bool full = false, const std::string& tag = "") {
  Descriptor d;
  d.address = address;
  d.full = full;
  d.tag = tag;
  return d;
}

// Every decoded field of `e` on one line, to compare elements whole:
// "<type> <address> [full] [impexp] [except] [from <source>] [medium N]
// [tag T] [id V/P/S]", addresses in hex.
inline std::string describe(const Element& e) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d %04X", static_cast<int>(e.type), e.address);
  std::string s = buf;
  if (e.full) s += " full";
  if (e.import_export) s += " impexp";
  if (e.except) s += " except";
  if (e.source_valid) {
    std::snprintf(buf, sizeof buf, " from %04X", e.source);
    s += buf;
  }
  if (e.medium_type) s += " medium " + std::to_string(e.medium_type);
  if (!e.volume_tag.empty()) s += " tag " + e.volume_tag;
  if (!(e.device_vendor + e.device_product + e.device_serial).empty())
    s += " id " + e.device_vendor + "/" + e.device_product + "/" + e.device_serial;
  return s;
}

class Pages {
 public:
  // Starts a page; descriptors added after it belong to it.
  Pages& page(std::uint8_t type, bool pvoltag, std::uint16_t desc_len, bool avoltag = false) {
    pages_.push_back({type, pvoltag, avoltag, desc_len, {}});
    return *this;
  }
  Pages& add(const Descriptor& d) {
    pages_.back().descriptors.push_back(d);
    return *this;
  }
  // The whole report; `available` overrides the element count.
  std::vector<std::uint8_t> bytes(int available = -1) const {
    std::vector<std::uint8_t> out(8, 0);
    std::size_t count = 0;
    for (const Page& p : pages_) {
      std::size_t start = out.size();
      out.resize(start + 8, 0);
      out[start] = p.type;
      out[start + 1] = static_cast<std::uint8_t>((p.pvoltag ? 0x80 : 0) | (p.avoltag ? 0x40 : 0));
      put_be16(&out[start + 2], p.desc_len);
      put_be24(&out[start + 5], static_cast<std::uint32_t>(p.desc_len * p.descriptors.size()));
      for (const Descriptor& d : p.descriptors) {
        std::size_t at = out.size();
        out.resize(at + p.desc_len, 0);
        std::uint8_t* b = &out[at];
        put_be16(b, d.address);
        b[2] = static_cast<std::uint8_t>((d.full ? 1 : 0) | (d.impexp ? 2 : 0));
        b[9] = static_cast<std::uint8_t>((d.svalid ? 0x80 : 0) | d.medium_type);
        put_be16(b + 10, d.source);
        std::size_t off = 12;
        if (p.pvoltag && p.desc_len >= off + 36) {
          std::memset(b + off, ' ', 32);
          std::memcpy(b + off, d.tag.data(), d.tag.size());
          off += 36;
        }
        if (p.avoltag) off += 36;
        if (!d.identifier.empty() && off < p.desc_len) {
          const std::size_t length = d.id_length < 0 ? d.identifier.size() : d.id_length;
          std::vector<std::uint8_t> id(
              std::max<std::size_t>(4 + d.identifier.size(), p.desc_len - off), d.pad);
          id[0] = d.code_set, id[1] = d.id_type, id[2] = 0;
          id[3] = static_cast<std::uint8_t>(length);
          std::copy(d.identifier.begin(), d.identifier.end(), id.begin() + 4);
          std::copy_n(id.begin(), p.desc_len - off, b + off);
        }
        ++count;
      }
      if (!p.descriptors.empty() && count == p.descriptors.size()) {
        put_be16(&out[0], p.descriptors.front().address);
      }
    }
    put_be16(&out[2], static_cast<std::uint16_t>(available < 0 ? count : available));
    put_be24(&out[5], static_cast<std::uint32_t>(out.size() - 8));
    return out;
  }

 private:
  struct Page {
    std::uint8_t type;
    bool pvoltag, avoltag;
    std::uint16_t desc_len;
    std::vector<Descriptor> descriptors;
  };
  std::vector<Page> pages_;
};

inline std::vector<std::uint8_t> text(const std::string& s) { return {s.begin(), s.end()}; }

// A VPD page: `code`, the page length (`length` when given), then `body`.
inline std::vector<std::uint8_t> vpd(std::uint8_t code, const std::vector<std::uint8_t>& body,
                                     int length = -1) {
  std::vector<std::uint8_t> d(4 + body.size(), 0);
  d[0] = 0x01, d[1] = code;
  put_be16(&d[2], static_cast<std::uint16_t>(length < 0 ? body.size() : length));
  std::copy(body.begin(), body.end(), d.begin() + 4);
  return d;
}

}  // namespace testing
}  // namespace scsi
}  // namespace d2t

#endif
