// changer_status, mount, unmount and transfer: one changer, one move.
#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "d2t/tools/changer_access.h"
#include "d2t/tools/diagnosis.h"
#include "d2t/tools/drive_access.h"
#include "d2t/tools/identity.h"
#include "d2t/tools/tools.h"

namespace d2t {
namespace tools {

using d2t::scsi::Element;
using d2t::scsi::Result;

namespace {

// Builds the records of one element status. False on allocation failure.
bool build_records(const Changer_Access& access, ACE_INT64 changer_id,
                   const std::vector<Element>& elements, std::vector<Drive_var>& drives,
                   std::vector<Media_var>& medias) {
  const d2t::scsi::Element_Map& map = access.map();
  drives.reserve(map.data_transfer_count);
  medias.reserve(access.slot_count());
  for (const Element& e : elements) {
    if (e.type == d2t::scsi::ELEMENT_DATA_TRANSFER) {
      std::int32_t number = access.drive_number(e.address);
      if (number < 0) continue;
      Drive* d = new (std::nothrow) Drive;
      if (!d) return false;
      Drive_var dv(d);
      d->changer_id(changer_id);
      d->drive_number(static_cast<ACE_UINT32>(number));
      d->serial_number(e.device_serial);
      d->vendor(e.device_vendor);
      d->model(e.device_product);
      if (e.full) {
        d->media_tag(e.volume_tag);
        if (e.source_valid) d->slot_number(access.slot_number(e.source));
      }
      drives.push_back(dv);
    } else if (e.type == d2t::scsi::ELEMENT_STORAGE || e.type == d2t::scsi::ELEMENT_IMPORT_EXPORT) {
      std::int32_t slot = access.slot_number(e.address);
      if (slot == 0) continue;
      Media* m = new (std::nothrow) Media;
      if (!m) return false;
      Media_var mv(m);
      m->changer_id(changer_id);
      m->slot_number(slot);
      m->is_porter(e.type == d2t::scsi::ELEMENT_IMPORT_EXPORT);
      if (e.full) {
        m->media_tag(e.volume_tag);
        m->state(MST_FULL);
      }
      medias.push_back(mv);
    }
  }
  return true;
}

// False when the changer's identifier of the drive element `address`
// says the device is another drive (d2t/scsi/drive_naming.h): a stale
// device name that now belongs to another drive, whose tape must not be
// ejected.
bool same_drive(Changer_Access& access, std::uint16_t address, Scsi_Device& drive) {
  std::vector<Element> e;
  if (!access.read_elements(d2t::scsi::ELEMENT_DATA_TRANSFER, address, 1, e, nullptr).ok() ||
      e.size() != 1 || e[0].address != address)
    return true;  // nothing to compare with
  Drive_Identity host;
  if (!unit_serial(drive, host.unit_serial).ok()) return true;
  return d2t::scsi::drive_naming(std::string(), element_identity(e[0]), host).identifier !=
         d2t::scsi::Verdict::NO;
}

// The blame of a load or unload that ended with `r` (`move`: the result of
// the MOVE MEDIUM, else of opening the changer or of the drive's eject).
bool fail(const Result& r, bool move, Blame& blame) {
  blame = blame_of(r, move);
  if (r.ok()) {
    note_refusal("the device cannot be opened");
  } else {
    note_failure(r);
  }
  return false;
}

// The changer could not be opened: nothing reached a drive, so nothing
// counts against one.
bool unreachable(const Result& r, Blame& blame) {
  blame = Blame::NONE;
  if (r.ok()) {
    note_refusal("the changer cannot be opened");
  } else {
    note_failure(r);
  }
  return false;
}

// A refusal decided here, before any command was sent.
bool refuse(Blame& blame, const char* why) {
  blame = Blame::NONE;
  note_refusal(why);
  return false;
}

bool with_flag(bool ok, Blame blame, bool& count_failure) {
  if (!ok) count_failure = blame != Blame::FAULTY;
  return ok;
}

}  // namespace

bool changer_status(Changer& changer) {
  std::unique_ptr<Changer_Access> access =
      Changer_Access::open(changer.sg_name(), nullptr, nullptr);
  if (!access) return false;
  // The element status is read and turned into records a bounded number
  // of elements at a time (storage, then import/export, then drives, as
  // read_all orders them): a library of 50,000 slots never holds all its
  // descriptors beside all its records.
  const d2t::scsi::Element_Map& map = access->map();
  const struct {
    d2t::scsi::Element_Type type;
    std::uint16_t first, count;
  } parts[] = {
      {d2t::scsi::ELEMENT_STORAGE, map.storage_first, map.storage_count},
      {d2t::scsi::ELEMENT_IMPORT_EXPORT, map.import_export_first, map.import_export_count},
      {d2t::scsi::ELEMENT_DATA_TRANSFER, map.data_transfer_first, map.data_transfer_count}};
  const std::uint32_t ELEMENTS_PER_BATCH = 2048;
  std::vector<Drive_var> drives;
  std::vector<Media_var> medias;
  std::vector<Element> elements;
  for (const auto& part : parts) {
    for (std::uint32_t done = 0; done < part.count; done += ELEMENTS_PER_BATCH) {
      const auto n = static_cast<std::uint16_t>(std::min(ELEMENTS_PER_BATCH, part.count - done));
      elements.clear();
      if (!access
               ->read_elements(part.type, static_cast<std::uint16_t>(part.first + done), n,
                               elements, nullptr)
               .ok() ||
          !build_records(*access, changer.id(), elements, drives, medias))
        return false;
    }
  }
  changer.drives().swap(drives);
  changer.medias().swap(medias);
  return true;
}

bool mount(const std::string& changer_sg, ACE_UINT32 drive_number, ACE_INT32 slot,
           const std::string& media_tag, int retries, Blame& blame) {
  Result r;
  std::unique_ptr<Changer_Access> access = Changer_Access::open(changer_sg, &r, nullptr);
  if (!access) return unreachable(r, blame);
  std::uint16_t drive_addr = 0, slot_addr = 0;
  if (!access->drive_address(drive_number, drive_addr) || !access->slot_address(slot, slot_addr))
    return refuse(blame, "no such drive or slot element in the changer");
  // Never load a cartridge other than the one asked for: the slot's tag
  // must match when both are known.
  if (!media_tag.empty()) {
    std::vector<Element> e;
    Result s = access->read_elements(access->slot_number(slot_addr) <= access->map().storage_count
                                         ? d2t::scsi::ELEMENT_STORAGE
                                         : d2t::scsi::ELEMENT_IMPORT_EXPORT,
                                     slot_addr, 1, e, nullptr);
    if (s.ok() && e.size() == 1 && e[0].address == slot_addr && e[0].full &&
        !e[0].volume_tag.empty() && e[0].volume_tag != media_tag) {
      return refuse(blame, "the slot holds another cartridge");
    }
  }
  r = access->move(slot_addr, drive_addr, retries);
  if (!r.ok()) return fail(r, true, blame);
  return true;
}

bool mount(const std::string& changer_sg, ACE_UINT32 drive_number, ACE_INT32 slot,
           const std::string& media_tag, int retries, bool& count_failure) {
  Blame blame = Blame::NONE;
  const bool ok = mount(changer_sg, drive_number, slot, media_tag, retries, blame);
  return with_flag(ok, blame, count_failure);
}

bool unmount(const std::string& changer_sg, const std::string& drive_dev, ACE_UINT32 drive_number,
             ACE_INT32 slot, const std::string& /*media_tag*/, int retries, Blame& blame) {
  Result r;
  std::unique_ptr<Changer_Access> access = Changer_Access::open(changer_sg, &r, nullptr);
  if (!access) return unreachable(r, blame);
  std::uint16_t drive_addr = 0, slot_addr = 0;
  if (!access->drive_address(drive_number, drive_addr) || !access->slot_address(slot, slot_addr))
    return refuse(blame, "no such drive or slot element in the changer");
  // Eject first so the changer can take the cartridge. A drive that
  // cannot be opened, or whose name now belongs to another drive, is left
  // to the move: the changer unloads it itself or refuses. A drive with no tape threaded (none in
  // it, or already ejected) needs no eject; any other eject failure ends
  // the unload.
  std::unique_ptr<Scsi_Device> drive = Scsi_Device::open(drive_dev, nullptr);
  if (drive && !same_drive(*access, drive_addr, *drive)) drive.reset();
  if (drive) {
    Result e = eject(*drive, retries);
    // MEDIUM NOT PRESENT comes with several qualifiers (3A/00, 3A/04 ...).
    bool nothing_threaded = (e.is_sense(d2t::scsi::SK_NOT_READY) && e.sense.asc == 0x3A) ||
                            e.is_sense(d2t::scsi::SK_NOT_READY, 0x04, 0x02);
    if (!e.ok() && !nothing_threaded) return fail(e, false, blame);
  }
  r = access->move(drive_addr, slot_addr, retries);
  if (!r.ok()) return fail(r, true, blame);
  return true;
}

bool unmount(const std::string& changer_sg, const std::string& drive_dev, ACE_UINT32 drive_number,
             ACE_INT32 slot, const std::string& media_tag, int retries, bool& count_failure) {
  Blame blame = Blame::NONE;
  const bool ok = unmount(changer_sg, drive_dev, drive_number, slot, media_tag, retries, blame);
  return with_flag(ok, blame, count_failure);
}

bool transfer(const std::string& changer_sg, ACE_INT32 from, ACE_INT32 to, int retries) {
  Blame ignored = Blame::NONE;
  Result r;
  std::unique_ptr<Changer_Access> access = Changer_Access::open(changer_sg, &r, nullptr);
  if (!access) return fail(r, false, ignored);
  std::uint16_t from_addr = 0, to_addr = 0;
  if (!access->slot_address(from, from_addr) || !access->slot_address(to, to_addr))
    return refuse(ignored, "no such slot element in the changer");
  r = access->move(from_addr, to_addr, retries);
  return r.ok() || fail(r, true, ignored);
}

}  // namespace tools
}  // namespace d2t
