#include "d2t/capture/capturer.h"

#include <algorithm>

#include "d2t/capture/command_table.h"
#include "d2t/capture/element_pages.h"
#include "d2t/scsi/bytes.h"
#include "d2t/scsi/element_status.h"

namespace d2t {
namespace capture {

namespace {

const std::uint8_t STATUS_CHECK_CONDITION = 0x02;
const int UNIT_ATTENTION_REPEATS = 3;

std::uint8_t sense_key(const Bytes& sense) {
  if (sense.size() < 3) return 0;
  if ((sense[0] & 0x7F) >= 0x72) return sense[1] & 0x0F;  // descriptor format
  return sense[2] & 0x0F;
}

bool good(const Exchange& x) { return x.status == 0; }

}  // namespace

bool Recorder::submit(const d2t::scsi::Cdb& cdb, std::size_t allocation, Exchange& reply,
                      std::string* error) {
  const Command_Rule* rule = read_only_rule(cdb.bytes, cdb.len);
  if (rule == nullptr) {
    if (error) *error = "refused to send a command outside the read-only table";
    return false;
  }
  Bytes buf(allocation);
  d2t::scsi::Command cmd;
  cmd.cdb = cdb.bytes;
  cmd.cdb_len = cdb.len;
  cmd.direction = allocation ? d2t::scsi::Direction::FROM_DEVICE : d2t::scsi::Direction::NONE;
  cmd.data = allocation ? buf.data() : nullptr;
  cmd.data_len = allocation;
  cmd.timeout_ms = 10 * 60 * 1000;  // element status of a large library is slow
  d2t::scsi::Outcome o = transport_.execute(cmd);
  if (o.os_errno != 0 || o.host_status != 0 || (o.driver_status & ~0x08) != 0) {
    if (error)
      *error = std::string(rule->name) + " could not be carried (errno " +
               std::to_string(o.os_errno) + ", host status " + std::to_string(o.host_status) +
               ", driver status " + std::to_string(o.driver_status) + ")";
    return false;
  }
  reply = Exchange();
  reply.cdb.assign(cdb.bytes, cdb.bytes + cdb.len);
  reply.status = o.status;
  reply.sense = o.sense;
  if (o.status == 0) {
    std::size_t got = o.resid <= allocation ? allocation - o.resid : 0;
    reply.data.assign(buf.begin(), buf.begin() + got);
  }
  return true;
}

bool Recorder::send(const d2t::scsi::Cdb& cdb, std::size_t allocation, Exchange& reply,
                    std::string* error) {
  for (int attempt = 0;; ++attempt) {
    if (!submit(cdb, allocation, reply, error)) return false;
    if (reply.status == STATUS_CHECK_CONDITION && reply.sense.empty()) {
      Exchange sense;
      if (submit(d2t::scsi::request_sense_cdb(252), 252, sense, nullptr) && good(sense))
        reply.sense = sense.data;
    }
    out_.exchanges.push_back(reply);
    if (reply.status != STATUS_CHECK_CONDITION || sense_key(reply.sense) != 0x06 ||
        attempt + 1 >= UNIT_ATTENTION_REPEATS)
      return true;
  }
}

bool capture_identity(Recorder& r, std::string* error) {
  Exchange x;
  if (!r.send(d2t::scsi::inquiry_cdb(false, 0, 255), 255, x, error)) return false;
  if (!good(x)) {
    if (error) *error = "the standard INQUIRY was refused";
    return false;
  }
  if (!r.send(d2t::scsi::inquiry_cdb(true, 0x00, 255), 255, x, nullptr) || !good(x) ||
      x.data.size() < 4)
    return true;  // no vital product data
  std::vector<std::uint8_t> pages;
  std::size_t listed = std::min<std::size_t>(x.data.size(), 4 + d2t::scsi::get_be16(&x.data[2]));
  for (std::size_t i = 4; i < listed; ++i)
    if (x.data[i] != 0x00) pages.push_back(x.data[i]);
  for (std::uint8_t page : pages) {
    Exchange p;
    if (!r.send(d2t::scsi::inquiry_cdb(true, page, 255), 255, p, nullptr) || !good(p) ||
        p.data.size() < 4)
      continue;
    // A page longer than the first answer is asked for whole.
    std::size_t whole = 4 + std::size_t(d2t::scsi::get_be16(&p.data[2]));
    if (whole > 255) {
      auto alloc = static_cast<std::uint16_t>(std::min<std::size_t>(whole, 0xFFFF));
      r.send(d2t::scsi::inquiry_cdb(true, page, alloc), alloc, p, nullptr);
    }
  }
  return true;
}

namespace {

// READ ELEMENT STATUS of `count` elements of `type` from `first` on, as the
// device layer asks for them.
void read_elements(Recorder& r, d2t::scsi::Element_Type type, std::uint16_t first,
                   std::uint32_t count, bool dvcid) {
  std::uint32_t next = first, seen = 0;
  bool voltag = true;
  while (seen < count && next <= 0xFFFF) {
    auto n =
        static_cast<std::uint16_t>(std::min<std::uint32_t>(ELEMENTS_PER_REQUEST, count - seen));
    std::size_t alloc = std::min<std::size_t>(HEADER_ROOM + n * DESCRIPTOR_ROOM, MAX_TRANSFER);
    Raw_Report report;
    std::size_t found = 0;
    for (bool grown = false;;) {
      Exchange x;
      auto cdb =
          d2t::scsi::read_element_status_cdb(type, static_cast<std::uint16_t>(next), n, voltag,
                                             dvcid, static_cast<std::uint32_t>(alloc));
      if (!r.send(cdb, alloc, x, nullptr)) return;
      if (!good(x)) {
        // A changer without a label reader may refuse VolTag: record its
        // answer without them.
        if (voltag && sense_key(x.sense) == 0x05) {
          voltag = false;
          continue;
        }
        return;
      }
      if (!split_element_status(x.data.data(), x.data.size(), report)) return;
      found = 0;
      for (const Raw_Page& p : report.pages) found += p.descriptors.size();
      if (found > 0 || report.available == 0 || grown || x.data.size() < 8 + 4) break;
      // Not one descriptor fitted: ask once more with room for them.
      grown = true;
      std::size_t needed = std::min<std::size_t>(
          HEADER_ROOM + std::size_t(n) * d2t::scsi::get_be16(&x.data[8 + 2]), MAX_TRANSFER);
      if (needed <= alloc) break;
      alloc = needed;
    }
    if (found == 0) return;
    std::uint32_t last = next;
    for (const Raw_Page& p : report.pages)
      for (const auto& d : p.descriptors)
        last = std::max<std::uint32_t>(last, descriptor_address(d));
    seen += static_cast<std::uint32_t>(found);
    next = last + 1;
  }
}

}  // namespace

bool capture_changer(Recorder& r, std::string* error) {
  if (!capture_identity(r, error)) return false;
  d2t::scsi::Element_Map map;
  bool have_map = false;
  for (std::uint8_t page : {0x1D, 0x1E, 0x1F}) {
    Exchange x;
    if (r.send(d2t::scsi::mode_sense6_cdb(page, 255), 255, x, nullptr) && good(x) && page == 0x1D)
      have_map = d2t::scsi::parse_element_map(x.data.data(), x.data.size(), map);
  }
  struct Range {
    d2t::scsi::Element_Type type;
    std::uint16_t first, count;
  };
  const Range ranges[] = {
      {d2t::scsi::ELEMENT_TRANSPORT, map.transport_first, map.transport_count},
      {d2t::scsi::ELEMENT_STORAGE, map.storage_first, map.storage_count},
      {d2t::scsi::ELEMENT_IMPORT_EXPORT, map.import_export_first, map.import_export_count},
      {d2t::scsi::ELEMENT_DATA_TRANSFER, map.data_transfer_first, map.data_transfer_count},
  };
  for (const Range& range : ranges) {
    // Without the element map every address of the type is asked for.
    std::uint16_t first = have_map ? range.first : 0;
    std::uint32_t count = have_map ? range.count : 0xFFFF;
    if (count == 0) continue;
    for (bool dvcid : {true, false}) read_elements(r, range.type, first, count, dvcid);
  }
  return true;
}

namespace {

bool capture_device(d2t::scsi::Device_Provider& provider, const d2t::scsi::Device_Entry& entry,
                    const std::string& name, bool changer, Device_Capture& out,
                    std::string& error) {
  out.sg_name = entry.sg_name.empty() ? name : entry.sg_name;
  out.dev_name = entry.dev_name;
  out.target_name = entry.target_name;
  out.lun = entry.lun;
  std::unique_ptr<d2t::scsi::Transport> t = provider.open(name, &error);
  if (!t) return false;
  Recorder r(*t, out);
  return changer ? capture_changer(r, &error) : capture_identity(r, &error);
}

}  // namespace

bool capture_devices(d2t::scsi::Device_Provider& provider, const std::string& device, bool drives,
                     Capture& out, std::string& error, std::vector<std::string>* warnings) {
  std::vector<d2t::scsi::Device_Entry> entries;
  std::string why;
  if (!provider.list(entries, &why)) {
    if (warnings) warnings->push_back("cannot list devices: " + why);
    entries.clear();
  }
  Capture capture;
  d2t::scsi::Device_Entry changer;
  for (const d2t::scsi::Device_Entry& e : entries)
    if (e.sg_name == device) changer = e;
  if (!capture_device(provider, changer, device, true, capture.changer, error)) return false;
  if (drives) {
    for (const d2t::scsi::Device_Entry& e : entries) {
      if (e.kind != d2t::scsi::Device_Kind::TAPE) continue;
      Device_Capture d;
      if (capture_device(provider, e, e.sg_name, false, d, why))
        capture.drives.push_back(std::move(d));
      else if (warnings)
        warnings->push_back(e.sg_name + " left out: " + why);
    }
    locate_drives(capture);
  }
  out = std::move(capture);
  return true;
}

void locate_drives(Capture& capture) {
  for (Device_Capture& drive : capture.drives) {
    const std::string serial = recorded_serial(drive);
    if (serial.empty()) continue;
    for (const Exchange& x : capture.changer.exchanges) {
      if (x.cdb.empty() || x.cdb[0] != 0xB8 || !good(x)) continue;
      Raw_Report report;
      if (!split_element_status(x.data.data(), x.data.size(), report)) continue;
      for (const Raw_Page& p : report.pages) {
        if (p.type != d2t::scsi::ELEMENT_DATA_TRANSFER) continue;
        for (const auto& d : p.descriptors)
          if (descriptor_names(d, p.flags, serial)) drive.element_address = descriptor_address(d);
      }
    }
  }
}

}  // namespace capture
}  // namespace d2t
