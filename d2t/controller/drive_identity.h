// Which host tape drive is which drive element of a library, decided from
// what the devices say (no cartridge moves), and the capacity a cartridge
// is given when it was not measured. Pure functions over plain data: the
// scan (drive_identification.h) reads the devices and logs the outcome.
#ifndef D2T_CONTROLLER_DRIVE_IDENTITY_H
#define D2T_CONTROLLER_DRIVE_IDENTITY_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
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
  // Per element: the identifiers show it has no drive on this host
  // (d2t::scsi::attached_elsewhere); never set for an element with a host.
  std::vector<bool> elsewhere;
  // One line per ambiguity (an element that names two host drives, a host
  // drive that two elements name), for the log. The elements concerned
  // are left unidentified.
  std::vector<std::string> conflicts;
  // One line per element and host whose evidence disagrees (the host's
  // VPD 0xB4 places it at the element and the element's identifier names
  // another drive, or the identifier names the host and its VPD 0xB4
  // another element), saying which. The element and every element that
  // host would be tied to are left unidentified.
  std::vector<std::string> disagreements;
  std::size_t count(Route r) const;
};

// Ties elements to hosts by the rule of d2t/scsi/drive_naming.h, pair by
// pair: a pair is tied when the evidence names the host and nothing
// contradicts it (route ELEMENT_ADDRESS when the host's VPD 0xB3/0xB4
// place it at the element, else SERIAL or DESIGNATOR by the element's
// identifier). A host whose VPD 0xB3 names another library is tied by its
// identifiers only. An element is identified when exactly one host is
// tied to it, that host is tied to no other element, and no evidence about
// either disagrees. `every_host_read`: `hosts` holds every tape drive the
// host lists (none left out for not answering), which `elsewhere` needs.
Drive_Match match_drives(const std::string& library_serial,
                         const std::vector<d2t::tools::Element_Identity>& elements,
                         const std::vector<d2t::tools::Drive_Identity>& hosts,
                         bool every_host_read);

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
// `guessed` holds on entry the tags whose `known` capacity is a guess, on
// exit the tags whose capacity is one: taken from the native table, from
// the first measured cartridge of another type, or from a guess. A
// cartridge measured now (MST_BLANK on entry) is never a guess, and a
// recorded guess yields to a capacity of its type measured now or recorded
// as measured.
void assign_capacities(std::vector<d2t::Media_var>& medias,
                       const std::map<std::string, std::uint64_t>& known,
                       std::set<std::string>& guessed);

}  // namespace identify
}  // namespace d2t

#endif
