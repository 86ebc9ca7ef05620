#include "d2t/tools/changer_access.h"

#include <algorithm>

#include "d2t/scsi/bytes.h"
#include "d2t/tools/provider.h"
#include "d2t/util/common.h"

namespace d2t {
namespace tools {

using d2t::scsi::Element;
using d2t::scsi::Element_Type;
using d2t::scsi::Failure;
using d2t::scsi::Result;

namespace {
// Bytes reserved per descriptor: the 12 fixed bytes, a primary volume tag
// and a device identifier of up to 64 bytes with its 4-byte header.
const std::size_t DESCRIPTOR_ROOM = 12 + 36 + 4 + 64;
const std::size_t HEADERS = 8 + 8;
const std::size_t MAX_TRANSFER = 64 * 1024;

bool invalid_field(const Result& r) {
  return r.is_sense(d2t::scsi::SK_ILLEGAL_REQUEST) && r.sense.asc == 0x24;
}
}  // namespace

std::unique_ptr<Changer_Access> Changer_Access::open(const std::string& sg_name, Result* result,
                                                     std::string* error) {
  Result r;
  r.failure = Failure::OS;
  std::unique_ptr<Scsi_Device> dev = Scsi_Device::open(sg_name, error);
  if (!dev) {
    if (result) *result = r;
    return nullptr;
  }
  std::uint8_t buf[255] = {};
  std::size_t got = 0;
  auto cdb = d2t::scsi::mode_sense6_cdb(d2t::scsi::MODE_PAGE_ELEMENT_ADDRESS, sizeof buf);
  // A library may hold or refuse (BUSY, becoming ready) any command while
  // its robot moves for another drive: wait for it as for a move.
  r = with_retries(LOAD_UNLOAD_DEFAULT_RETRIES,
                   [&] { return dev->read(cdb, buf, sizeof buf, got, TIMEOUT_ELEMENT_STATUS_MS); });
  d2t::scsi::Element_Map map;
  if (r.ok() && !d2t::scsi::parse_element_map(buf, got, map)) {
    r.failure = Failure::STATUS;
    if (error) *error = "malformed element address assignment page";
  } else if (!r.ok() && error) {
    *error = "MODE SENSE failed: " + d2t::scsi::describe(r);
  }
  if (!r.ok()) {
    if (result) *result = r;
    return nullptr;
  }
  std::unique_ptr<Changer_Access> access(new Changer_Access(std::move(dev), map));
  if (!access->read_gapped_addresses(error)) {
    r.failure = Failure::STATUS;
    if (result) *result = r;
    return nullptr;
  }
  if (result) *result = r;
  return access;
}

namespace {

// The address of element `n` (0-based) of a type.
bool address_of(const std::vector<std::uint16_t>& list, std::uint16_t first, std::uint16_t count,
                std::uint32_t n, std::uint16_t& address) {
  if (n >= count) return false;
  if (list.empty()) {
    address = static_cast<std::uint16_t>(first + n);
  } else {
    if (n >= list.size()) return false;
    address = list[n];
  }
  return true;
}

// The 0-based number of `address` among the elements of a type, or -1.
std::int32_t number_of(const std::vector<std::uint16_t>& list, std::uint16_t first,
                       std::uint16_t count, std::uint16_t address) {
  if (list.empty()) return address >= first && address - first < count ? address - first : -1;
  auto it = std::lower_bound(list.begin(), list.end(), address);
  return it != list.end() && *it == address ? static_cast<std::int32_t>(it - list.begin()) : -1;
}

}  // namespace

bool Changer_Access::read_gapped_addresses(std::string* error) {
  struct Type_List {
    Element_Type type;
    std::uint16_t first, count;
    std::vector<std::uint16_t>* list;
  } const types[] = {
      {d2t::scsi::ELEMENT_STORAGE, map_.storage_first, map_.storage_count, &storage_addresses_},
      {d2t::scsi::ELEMENT_IMPORT_EXPORT, map_.import_export_first, map_.import_export_count,
       &import_export_addresses_},
      {d2t::scsi::ELEMENT_DATA_TRANSFER, map_.data_transfer_first, map_.data_transfer_count,
       &drive_addresses_},
  };
  for (const Type_List& t : types) {
    const std::uint32_t past = std::uint32_t(t.first) + t.count;
    if (t.count == 0 || past > 0xFFFF) continue;
    // `count` elements from `first` on all lie below first + count unless
    // the addresses have gaps. A changer that refuses the probe is taken
    // to have none.
    std::vector<Element> probe;
    if (!read_elements(t.type, static_cast<std::uint16_t>(past), 1, probe, nullptr).ok() ||
        probe.empty())
      continue;
    std::vector<Element> all;
    if (!read_elements(t.type, t.first, t.count, all, error).ok()) return false;
    if (all.size() != t.count) {
      if (error) *error = "element status lists fewer elements than the element map";
      return false;
    }
    for (const Element& e : all) {
      if (!t.list->empty() && e.address <= t.list->back()) {
        if (error) *error = "element status lists addresses out of order";
        t.list->clear();
        return false;
      }
      t.list->push_back(e.address);
    }
  }
  return true;
}

bool Changer_Access::drive_address(std::uint32_t drive, std::uint16_t& address) const {
  return address_of(drive_addresses_, map_.data_transfer_first, map_.data_transfer_count, drive,
                    address);
}

std::int32_t Changer_Access::drive_number(std::uint16_t address) const {
  return number_of(drive_addresses_, map_.data_transfer_first, map_.data_transfer_count, address);
}

bool Changer_Access::slot_address(std::int32_t slot, std::uint16_t& address) const {
  if (slot < 1) return false;
  auto n = static_cast<std::uint32_t>(slot) - 1;
  if (n < map_.storage_count)
    return address_of(storage_addresses_, map_.storage_first, map_.storage_count, n, address);
  return address_of(import_export_addresses_, map_.import_export_first, map_.import_export_count,
                    n - map_.storage_count, address);
}

std::int32_t Changer_Access::slot_number(std::uint16_t address) const {
  std::int32_t n = number_of(storage_addresses_, map_.storage_first, map_.storage_count, address);
  if (n >= 0) return n + 1;
  n = number_of(import_export_addresses_, map_.import_export_first, map_.import_export_count,
                address);
  if (n >= 0) return map_.storage_count + n + 1;
  return 0;
}

Result Changer_Access::read_elements(Element_Type type, std::uint16_t first, std::uint16_t count,
                                     std::vector<Element>& out, std::string* error) {
  Result r;
  std::uint32_t next = first;
  const std::size_t start_size = out.size();
  const bool want_dvcid = type == d2t::scsi::ELEMENT_DATA_TRANSFER;
  while (out.size() - start_size < count && next <= 0xFFFF) {
    auto n = static_cast<std::uint16_t>(
        std::min<std::size_t>(ELEMENTS_PER_REQUEST, count - (out.size() - start_size)));
    // Some host adapters refuse transfers beyond 64 KiB; a report longer
    // than that is continued by the next request.
    std::size_t alloc =
        std::min<std::size_t>(HEADERS + std::size_t(n) * DESCRIPTOR_ROOM, MAX_TRANSFER);
    std::size_t got = 0;
    std::size_t before = out.size();
    d2t::scsi::Element_Report report;
    bool grown = false;
    for (;;) {
      if (buf_.size() < alloc) buf_.resize(alloc);
      int attentions = 0, waits = 0;
      bool dvcid = false;
      bool dvcid_alone_tried = false;
      for (;;) {
        bool voltag = voltag_ok_;
        dvcid = want_dvcid && dvcid_ok_;
        auto cdb =
            d2t::scsi::read_element_status_cdb(type, static_cast<std::uint16_t>(next), n, voltag,
                                               dvcid, static_cast<std::uint32_t>(alloc));
        r = dev_->read(cdb, buf_.data(), alloc, got, TIMEOUT_ELEMENT_STATUS_MS);
        // A unit attention reports an event (door opened, reset) once.
        if (r.is_sense(d2t::scsi::SK_UNIT_ATTENTION) && ++attentions < 3) continue;
        // Busy with a move for another drive, or becoming ready.
        if (!r.ok() && !r.is_sense(d2t::scsi::SK_UNIT_ATTENTION) && retriable(r) &&
            ++waits <= LOAD_UNLOAD_DEFAULT_RETRIES) {
          clock()->sleep_ms(LOAD_UNLOAD_RETRY_INTERVAL * 1000);
          continue;
        }
        // A refused flag is found one flag at a time: without DVCID first,
        // then, when VolTag alone is refused too, DVCID without VolTag, so
        // a changer that refuses only one of them keeps the other.
        if (invalid_field(r) && dvcid && voltag) {
          dvcid_ok_ = false;
          continue;
        }
        if (invalid_field(r) && voltag) {
          voltag_ok_ = false;
          if (want_dvcid && !dvcid_alone_tried) {
            dvcid_alone_tried = true;
            dvcid_ok_ = true;
          }
          continue;
        }
        if (invalid_field(r) && dvcid) {
          dvcid_ok_ = false;
          continue;
        }
        break;
      }
      if (!r.ok()) {
        if (error) *error = "READ ELEMENT STATUS failed: " + d2t::scsi::describe(r);
        return r;
      }
      if (!d2t::scsi::parse_element_status(buf_.data(), got, out, report, error)) {
        // Some changers lay device identifiers out beyond the descriptor
        // length they announce, so the page no longer divides into
        // descriptors. Without identifiers the layout is fixed: ask again
        // without them (the drives then have no serial number).
        if (dvcid) {
          dvcid_ok_ = false;
          continue;
        }
        r.failure = Failure::STATUS;
        return r;
      }
      if (out.size() != before || report.available == 0 || !report.truncated || grown) break;
      grown = true;
      // Not one descriptor fitted: they are longer than budgeted (alternate
      // volume tags, long device identifiers, vendor bytes). The page
      // header that did arrive gives their length; ask once more with room
      // for them.
      if (got < 8 + 4) break;  // element status header, then bytes 0-3 of the page header
      std::size_t needed = std::min<std::size_t>(
          HEADERS + std::size_t(n) * d2t::scsi::get_be16(buf_.data() + 8 + 2), MAX_TRANSFER);
      if (needed <= alloc) break;
      alloc = needed;
    }
    if (out.size() == before) {
      if (report.available == 0) break;  // nothing more from `next` on
      r.failure = Failure::STATUS;
      if (error) *error = "element status buffer too small for one element";
      return r;
    }
    std::uint32_t last = out.back().address;
    if (last < next || out[before].address < next) {
      out.resize(before);
      r.failure = Failure::STATUS;
      if (error) *error = "element status reported elements out of range";
      return r;
    }
    next = last + 1;
  }
  if (out.size() - start_size > count) out.resize(start_size + count);
  r.failure = Failure::NONE;
  return r;
}

Result Changer_Access::read_all(std::vector<Element>& out, std::string* error) {
  out.reserve(out.size() + map_.storage_count + map_.import_export_count +
              map_.data_transfer_count);
  Result r =
      read_elements(d2t::scsi::ELEMENT_STORAGE, map_.storage_first, map_.storage_count, out, error);
  if (r.ok())
    r = read_elements(d2t::scsi::ELEMENT_IMPORT_EXPORT, map_.import_export_first,
                      map_.import_export_count, out, error);
  if (r.ok())
    r = read_elements(d2t::scsi::ELEMENT_DATA_TRANSFER, map_.data_transfer_first,
                      map_.data_transfer_count, out, error);
  return r;
}

bool Changer_Access::type_of(std::uint16_t address, Element_Type& type) const {
  std::int32_t slot = slot_number(address);
  if (slot > 0)
    type = std::uint32_t(slot) <= map_.storage_count ? d2t::scsi::ELEMENT_STORAGE
                                                     : d2t::scsi::ELEMENT_IMPORT_EXPORT;
  else if (drive_number(address) >= 0)
    type = d2t::scsi::ELEMENT_DATA_TRANSFER;
  else
    return false;
  return true;
}

bool Changer_Access::moved(std::uint16_t source, std::uint16_t destination) {
  Element_Type source_type, destination_type;
  if (!type_of(source, source_type) || !type_of(destination, destination_type)) return false;
  std::vector<Element> from, to;
  if (!read_elements(source_type, source, 1, from, nullptr).ok() ||
      !read_elements(destination_type, destination, 1, to, nullptr).ok())
    return false;
  if (from.empty() || from[0].address != source || from[0].full) return false;
  if (to.empty() || to[0].address != destination || !to[0].full) return false;
  // The source address a library keeps is the last storage element the
  // cartridge left: the source of a move out of a slot, or the slot itself
  // when the cartridge came back from a drive.
  return !to[0].source_valid || to[0].source == source || to[0].source == destination;
}

Result Changer_Access::move(std::uint16_t source, std::uint16_t destination, int retries) {
  auto cdb = d2t::scsi::move_medium_cdb(map_.transport_first, source, destination);
  bool answer_lost = false;
  Result r = with_retries(retries, [&] {
    Result attempt = dev_->run(cdb, TIMEOUT_MOVE_MS);
    if (attempt.failure == Failure::TRANSPORT) answer_lost = true;
    return attempt;
  });
  bool source_empty = r.is_sense(d2t::scsi::SK_ILLEGAL_REQUEST, 0x3B, 0x0E);
  bool destination_full = r.is_sense(d2t::scsi::SK_ILLEGAL_REQUEST, 0x3B, 0x0D);
  if (answer_lost && (source_empty || destination_full) && moved(source, destination)) r = Result();
  return r;
}

}  // namespace tools
}  // namespace d2t
