// unload_all: empties every drive of a library.
#include <map>
#include <string>
#include <vector>

#include "d2t/tools/changer_access.h"
#include "d2t/tools/drive_access.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"

namespace d2t {
namespace tools {

using d2t::scsi::Element;
using d2t::scsi::Result;

namespace {

// Tape devices of the host by INQUIRY serial number, read once per call.
std::map<std::string, std::string> tape_devices_by_serial() {
  std::map<std::string, std::string> out;
  std::shared_ptr<d2t::scsi::Device_Provider> provider = device_provider(nullptr);
  std::vector<d2t::scsi::Device_Entry> entries;
  if (!provider || !provider->list(entries, nullptr)) return out;
  for (const d2t::scsi::Device_Entry& e : entries) {
    if (e.kind != d2t::scsi::Device_Kind::TAPE) continue;
    std::unique_ptr<Scsi_Device> dev = Scsi_Device::open(e.sg_name, nullptr);
    std::string serial;
    if (dev && unit_serial(*dev, serial).ok() && !serial.empty()) out.emplace(serial, e.sg_name);
  }
  return out;
}

}  // namespace

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

  std::map<std::string, std::string> tapes = tape_devices_by_serial();
  const std::uint32_t storage = access->map().storage_count;
  bool all_done = true;
  for (const Element* d : full_drives) {
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
    // Eject through the drive's own device when it can be found; the
    // changer unloads the drive itself otherwise (or refuses, reported by
    // the move).
    auto tape = d->device_serial.empty() ? tapes.end() : tapes.find(d->device_serial);
    if (tape != tapes.end()) {
      if (std::unique_ptr<Scsi_Device> drive = Scsi_Device::open(tape->second, nullptr))
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
