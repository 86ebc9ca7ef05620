// The one rule that decides whether what a library says about a drive
// element and what a host tape drive says about itself name the same
// drive. Every caller that ties an element to a host device uses it: the
// scan's matcher, the unload's check before it ejects, emptying a library
// before a scan, and the capture that places recorded drives.
//
// Pure functions over plain data: no I/O, no logging. The rule is a
// safety rule: a drive mapped to the wrong element means a backup written
// onto another job's tape, so anything doubtful is "no" or "unknown",
// never "yes".
#ifndef D2T_SCSI_DRIVE_NAMING_H
#define D2T_SCSI_DRIVE_NAMING_H

#include <cstdint>
#include <string>
#include <vector>

namespace d2t {
namespace scsi {

// The changer's identifier of one data transfer element (READ ELEMENT
// STATUS with DVCID).
struct Element_Identity {
  std::uint32_t drive_number = 0;  // 0-based, element order
  std::uint16_t address = 0;       // the element's address
  std::uint8_t code_set = 0;       // 1 binary, 2 ASCII, 3 UTF-8 (0 taken as text)
  std::uint8_t id_type = 0;        // 0 vendor specific, 1 T10 vendor id, 2 EUI-64, 3 NAA
  std::string identifier;          // the identifier's bytes as sent; empty: none
  std::string serial;              // text identifier's serial (type 1: the serial
                                   // field), trimmed; empty for a binary one
};

// One identifier of a host tape drive (VPD 0x83 designator).
struct Drive_Designator {
  std::uint8_t code_set = 0;
  std::uint8_t type = 0;
  std::string value;  // bytes as sent
};

// What a host tape drive says about itself.
struct Drive_Identity {
  std::string unit_serial;                    // VPD 0x80, trimmed; empty when not read
  std::vector<Drive_Designator> designators;  // VPD 0x83, when listed in VPD 0x00
  // VPD 0xB3 and 0xB4, when the drive lists and answers both: the serial
  // number of the library that holds it and its element address there.
  bool placed = false;
  std::string automation_serial;
  std::uint16_t element_address = 0;
};

// The serial number a text identifier carries: for a T10 vendor id (type
// 1) the serial field after vendor (8 bytes) and product (16), empty when
// the identifier stops before it; for any other type the whole identifier.
// Trimmed of blanks and NULs. Empty for a binary identifier (code set 1).
std::string identifier_serial(std::uint8_t code_set, std::uint8_t id_type,
                              const std::string& identifier);

// Whether the unit serial number `serial` is the one an identifier's
// serial field `id_serial` names. Both are trimmed of blanks and NULs and
// compared without leading zeros ("000123" names "123"). Beyond that, a
// serial of 4 characters or more also names an identifier that ends with
// it when what precedes it there is a blank, a NUL or a separator ("-",
// "_", ":", ".", "/", "#"), possibly followed by zeros ("IBM-1013000999"
// names "1013000999"). A serial shorter than 4 characters names an equal
// identifier only ("DRV11" does not name "1"). Empty names nothing.
bool serial_names(const std::string& id_serial, const std::string& serial);

// What one piece of evidence says about "element E is host drive H".
enum class Verdict {
  UNKNOWN,  // the evidence is missing or says nothing about this pair
  YES,
  NO,
};

struct Naming {
  // VPD 0xB3/0xB4: YES when the host places itself at the element's
  // address in this library, NO when at another address of this library,
  // UNKNOWN when it places itself nowhere, in another library, or the
  // library's serial is not known.
  Verdict address = Verdict::UNKNOWN;
  // The element's DVCID against the host's unit serial (text identifiers)
  // or its VPD 0x83 designators of the same type (binary ones): YES when
  // it names the host, NO when the host's own identifier of that kind says
  // otherwise, UNKNOWN when either side has none.
  Verdict identifier = Verdict::UNKNOWN;
  // The pieces of evidence that say anything agree and one says yes.
  bool names() const {
    return (address == Verdict::YES || identifier == Verdict::YES) && address != Verdict::NO &&
           identifier != Verdict::NO;
  }
  // One piece says yes and the other no.
  bool disagrees() const {
    return (address == Verdict::YES && identifier == Verdict::NO) ||
           (address == Verdict::NO && identifier == Verdict::YES);
  }
};

// The evidence that element `e` of the library with serial number
// `library_serial` (empty: unknown, and the element address says nothing)
// is the host drive `h`.
Naming drive_naming(const std::string& library_serial, const Element_Identity& e,
                    const Drive_Identity& h);

// Whether the evidence shows that element `e` has no drive among `hosts`,
// every tape drive this host lists: `every_host_read` (no listed drive
// left out for not answering), the element has an identifier, no host
// places itself at the element, and every host's own identifier says it
// is not the element's (Verdict::NO for each). Anything less is "not
// known": the element may be one of ours.
bool attached_elsewhere(const std::string& library_serial, const Element_Identity& e,
                        const std::vector<Drive_Identity>& hosts, bool every_host_read);

}  // namespace scsi
}  // namespace d2t

#endif
