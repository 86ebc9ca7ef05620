// unload_all: empties every drive of a library.
#include <string>
#include <vector>

#include "d2t/tools/changer_access.h"
#include "d2t/tools/drive_access.h"
#include "d2t/tools/identity.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"

namespace d2t {
namespace tools {

using d2t::scsi::attached_elsewhere;
using d2t::scsi::drive_naming;
using d2t::scsi::Element;
using d2t::scsi::Result;

bool unload_all(const std::string& changer_sg, int retries) {
  std::unique_ptr<Changer_Access> access = Changer_Access::open(changer_sg, nullptr, nullptr);
  if (!access) return false;
  std::vector<Element> elements;
  if (!access->read_all(elements, nullptr).ok()) return false;

  // Occupancy of every slot (index slot - 1), kept in step with the moves.
  std::vector<bool> occupied(access->slot_count(), false);
  std::vector<const Element*> full_drives;
  for (const Element& e : elements) {
    if (e.type == d2t::scsi::ELEMENT_DATA_TRANSFER) {
      if (e.full) full_drives.push_back(&e);
      continue;
    }
    std::int32_t slot = access->slot_number(e.address);
    if (slot > 0 && e.full) occupied[slot - 1] = true;
  }
  if (full_drives.empty()) return true;

  std::vector<std::pair<std::string, Drive_Identity>> tapes;
  bool all_read = false;
  host_drive_identities(tapes, all_read);
  std::vector<Drive_Identity> hosts;
  for (const auto& t : tapes) hosts.push_back(t.second);
  std::string library;
  unit_serial(access->device(), library);
  const std::uint32_t storage = access->map().storage_count;
  bool all_done = true;
  for (const Element* d : full_drives) {
    // A drive of another host sharing the library is left alone.
    const Element_Identity id = element_identity(*d);
    if (attached_elsewhere(library, id, hosts, all_read)) continue;
    // Home slot when it is known and empty, else the first empty storage
    // slot.
    std::int32_t dest = 0;
    if (d->source_valid) {
      std::int32_t home = access->slot_number(d->source);
      if (home > 0 && !occupied[home - 1]) dest = home;
    }
    for (std::uint32_t i = 0; dest == 0 && i < storage; ++i)
      if (!occupied[i]) dest = static_cast<std::int32_t>(i + 1);
    std::uint16_t dest_addr = 0;
    if (dest == 0 || !access->slot_address(dest, dest_addr)) {
      all_done = false;  // nowhere to put it
      continue;
    }
    // Eject through the drive's own device when exactly one host drive is
    // named by the element; the changer unloads the drive itself otherwise
    // (or refuses, reported by the move).
    const std::string* device = nullptr;
    int named = 0;
    for (const auto& t : tapes) {
      if (!drive_naming(library, id, t.second).names()) continue;
      device = &t.first;
      ++named;
    }
    if (named == 1) {
      if (std::unique_ptr<Scsi_Device> drive = Scsi_Device::open(*device, nullptr))
        eject(*drive, retries);
    }
    if (access->move(d->address, dest_addr, retries).ok())
      occupied[dest - 1] = true;
    else
      all_done = false;
  }
  return all_done;
}

}  // namespace tools
}  // namespace d2t
