// Which host tape drive is which drive element of a library, decided from
// what the devices say (no cartridge moves), and the capacity a cartridge
// is given when it was not measured. Pure functions over plain data: the
// scan (drive_identification.h) reads the devices and logs the outcome.
#ifndef D2T_CONTROLLER_DRIVE_IDENTITY_H
#define D2T_CONTROLLER_DRIVE_IDENTITY_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "d2t/tools/identity.h"
#include "d2t/util/media.h"

namespace d2t {
namespace identify {

// How a drive element was tied to a host drive.
enum class Route {
  NONE,             // not identified: load-and-watch finds it, if anything
  ELEMENT_ADDRESS,  // the drive's VPD 0xB3/0xB4 name this library and the element
  SERIAL,           // the changer's text identifier against the unit serial number
  DESIGNATOR,       // the changer's binary identifier against a VPD 0x83 designator
};
const char* route_name(Route r);

struct Drive_Match {
  // Per element (index into `elements`): the index of its host drive in
  // `hosts`, or -1, and the route that tied them.
  std::vector<int> host;
  std::vector<Route> route;
  // One line per ambiguity (an element that names two host drives, a host
  // drive that two elements name), for the log. The elements concerned
  // are left unidentified.
  std::vector<std::string> conflicts;
  std::size_t count(Route r) const;
};

// Ties elements to hosts:
// - a host whose VPD 0xB3 names `library_serial` (both trimmed) is tied to
//   the element at its VPD 0xB4 address, and to nothing else;
// - a host whose VPD 0xB3 names another library is never tied here;
// - every other host is tied to each element whose text identifier equals
//   its unit serial number (both trimmed; for a T10 identifier the serial
//   field), or ends with it, or whose binary identifier equals one of its
//   VPD 0x83 designators of the same type byte for byte.
// An element is identified when exactly one host is tied to it and that
// host is tied to no other element. Hosts without a unit serial and
// elements without an identifier match through the element address only.
Drive_Match match_drives(const std::string& library_serial,
                         const std::vector<d2t::tools::Element_Identity>& elements,
                         const std::vector<d2t::tools::Drive_Identity>& hosts);

// The media type of a barcode: its last two characters ("L9" of
// "A00001L9"); empty for a tag shorter than three characters.
std::string media_type(const std::string& media_tag);
// Native capacity in bytes (decimal units) of an LTO media type: L5 1.5 TB,
// L6 2.5 TB, L7 6 TB, M8 9 TB, L8 12 TB, L9 18 TB; 0 for any other type.
std::uint64_t native_capacity(const std::string& media_type);

// Gives every tagged cartridge in state MST_FULL a capacity and the state
// MST_BLANK, or MST_UNKNOWN when none can be found. In order of
// preference: the capacity `known` holds for its tag (recorded by an
// earlier scan); the capacity of a cartridge of the same media type
// measured in this scan (state MST_BLANK on entry), else recorded; the
// native capacity of its media type; the capacity of the first cartridge
// measured (or, when none was, recorded) in this library. Cartridges in
// other states are left alone.
void assign_capacities(std::vector<d2t::Media_var>& medias,
                       const std::map<std::string, std::uint64_t>& known);

}  // namespace identify
}  // namespace d2t

#endif
