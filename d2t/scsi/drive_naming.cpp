#include "d2t/scsi/drive_naming.h"

#include "d2t/scsi/vpd.h"

namespace d2t {
namespace scsi {

namespace {

const std::size_t SHORTEST_TAIL = 4;  // shorter serials name equal identifiers only

bool blank(char c) { return c == ' ' || c == '\0'; }

bool separator(char c) {
  return blank(c) || c == '-' || c == '_' || c == ':' || c == '.' || c == '/' || c == '#';
}

std::string trimmed(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Without leading zeros; "0" stays "0".
std::string unpadded(const std::string& s) {
  std::size_t b = 0;
  while (b + 1 < s.size() && s[b] == '0') ++b;
  return s.substr(b);
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

Verdict address_verdict(const std::string& library, const Element_Identity& e,
                        const Drive_Identity& h) {
  if (library.empty() || !h.placed || trimmed(h.automation_serial) != library)
    return Verdict::UNKNOWN;  // placed nowhere, or in another library
  return h.element_address == e.address ? Verdict::YES : Verdict::NO;
}

Verdict identifier_verdict(const Element_Identity& e, const Drive_Identity& h) {
  if (e.identifier.empty()) return Verdict::UNKNOWN;
  if (e.code_set == CODE_SET_BINARY) {
    bool compared = false;
    for (const Drive_Designator& d : h.designators) {
      if (d.code_set != CODE_SET_BINARY || d.type != e.id_type) continue;
      if (d.value == e.identifier) return Verdict::YES;
      compared = true;
    }
    return compared ? Verdict::NO : Verdict::UNKNOWN;
  }
  const std::string id = trimmed(e.serial);
  if (id.empty() || trimmed(h.unit_serial).empty()) return Verdict::UNKNOWN;
  return serial_names(id, h.unit_serial) ? Verdict::YES : Verdict::NO;
}

}  // namespace

std::string identifier_serial(std::uint8_t code_set, std::uint8_t id_type,
                              const std::string& identifier) {
  if (code_set == CODE_SET_BINARY) return std::string();
  if (id_type != 1) return trimmed(identifier);
  return identifier.size() > 24 ? trimmed(identifier.substr(24)) : std::string();
}

bool serial_names(const std::string& id_serial, const std::string& serial) {
  const std::string id = trimmed(id_serial);
  const std::string s = trimmed(serial);
  if (id.empty() || s.empty()) return false;
  if (unpadded(id) == unpadded(s)) return true;
  const std::string tail = unpadded(s);
  if (tail.size() < SHORTEST_TAIL || !ends_with(id, tail)) return false;
  // What precedes the tail: zeros, then a blank, NUL or separator.
  std::size_t k = id.size() - tail.size();
  while (k > 0 && id[k - 1] == '0') --k;
  return k == 0 || separator(id[k - 1]);
}

Naming drive_naming(const std::string& library_serial, const Element_Identity& e,
                    const Drive_Identity& h) {
  Naming n;
  n.address = address_verdict(trimmed(library_serial), e, h);
  n.identifier = identifier_verdict(e, h);
  return n;
}

bool attached_elsewhere(const std::string& library_serial, const Element_Identity& e,
                        const std::vector<Drive_Identity>& hosts, bool every_host_read) {
  if (!every_host_read || e.identifier.empty()) return false;
  if (e.code_set != CODE_SET_BINARY && trimmed(e.serial).empty()) return false;
  for (const Drive_Identity& h : hosts) {
    const Naming n = drive_naming(library_serial, e, h);
    const bool not_it = (n.identifier == Verdict::NO && n.address != Verdict::YES) ||
                        (n.address == Verdict::NO && n.identifier != Verdict::YES);
    if (!not_it) return false;
  }
  return true;
}

}  // namespace scsi
}  // namespace d2t
