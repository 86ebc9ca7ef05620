// changer_identities and drive_identity: identifiers read from the
// changer's element status and from the drives' VPD pages.
#include "d2t/tools/identity.h"

#include <algorithm>

#include "d2t/scsi/vpd.h"
#include "d2t/tools/changer_access.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/scsi_device.h"

namespace d2t {
namespace tools {

using d2t::scsi::Result;

Element_Identity element_identity(const d2t::scsi::Element& e) {
  Element_Identity id;
  id.address = e.address;
  id.code_set = e.device_id_code_set;
  id.id_type = e.device_id_type;
  id.identifier = e.device_id;
  id.serial = e.device_serial;
  return id;
}

bool changer_identities(const std::string& changer_sg, std::vector<Element_Identity>& out) {
  std::unique_ptr<Changer_Access> access = Changer_Access::open(changer_sg, nullptr, nullptr);
  if (!access) return false;
  const d2t::scsi::Element_Map& map = access->map();
  std::vector<d2t::scsi::Element> elements;
  // Asks with DVCID; read_elements asks again without it when the changer
  // refuses the bit or its answer with identifiers cannot be decoded.
  if (!access
           ->read_elements(d2t::scsi::ELEMENT_DATA_TRANSFER, map.data_transfer_first,
                           map.data_transfer_count, elements, nullptr)
           .ok())
    return false;
  std::vector<Element_Identity> found;
  found.reserve(elements.size());
  for (const d2t::scsi::Element& e : elements) {
    std::int32_t number = access->drive_number(e.address);
    if (number < 0) continue;
    Element_Identity id = element_identity(e);
    id.drive_number = static_cast<std::uint32_t>(number);
    found.push_back(std::move(id));
  }
  out.swap(found);
  return true;
}

namespace {

// One VPD page into `buf`, whole: asked with 255 bytes first (devices of
// the older command set take no more), then again with the page's own
// length when it is longer; `got` bytes arrived. Retried once after a unit
// attention.
Result read_vpd(Scsi_Device& dev, std::uint8_t page, std::vector<std::uint8_t>& buf,
                std::size_t& got) {
  std::size_t want = 255;
  Result r;
  for (int pass = 0; pass < 2; ++pass) {
    buf.assign(want, 0);
    auto cdb = d2t::scsi::inquiry_cdb(true, page, static_cast<std::uint16_t>(want));
    r = dev.read(cdb, buf.data(), want, got, TIMEOUT_QUICK_MS);
    if (r.is_sense(d2t::scsi::SK_UNIT_ATTENTION))
      r = dev.read(cdb, buf.data(), want, got, TIMEOUT_QUICK_MS);
    if (!r.ok() || got < 4) break;
    const std::size_t full = 4 + (std::size_t(buf[2]) << 8 | buf[3]);
    if (full <= got || full <= want) break;
    want = std::min<std::size_t>(full, 0xFFFF);
  }
  return r;
}

}  // namespace

bool drive_identity(const std::string& device, Drive_Identity& out) {
  std::unique_ptr<Scsi_Device> dev = Scsi_Device::open(device, nullptr);
  if (!dev) return false;
  Drive_Identity id;
  std::vector<std::uint8_t> buf;
  std::size_t got = 0;
  std::vector<std::uint8_t> pages;
  const bool listed = read_vpd(*dev, d2t::scsi::VPD_SUPPORTED_PAGES, buf, got).ok() &&
                      d2t::scsi::parse_supported_pages(buf.data(), got, pages);
  auto has = [&](std::uint8_t page) {
    return std::find(pages.begin(), pages.end(), page) != pages.end();
  };
  const bool serial_read = unit_serial(*dev, id.unit_serial).ok();
  if (!listed && !serial_read) return false;

  std::vector<d2t::scsi::Designator> designators;
  if (has(d2t::scsi::VPD_DEVICE_IDENTIFICATION) &&
      read_vpd(*dev, d2t::scsi::VPD_DEVICE_IDENTIFICATION, buf, got).ok() &&
      d2t::scsi::parse_device_identification(buf.data(), got, designators)) {
    for (const d2t::scsi::Designator& d : designators)
      id.designators.push_back({d.code_set, d.type, d.value});
  }
  std::string library;
  std::uint16_t address = 0;
  if (has(d2t::scsi::VPD_AUTOMATION_SERIAL) && has(d2t::scsi::VPD_ELEMENT_ADDRESS) &&
      read_vpd(*dev, d2t::scsi::VPD_AUTOMATION_SERIAL, buf, got).ok() &&
      d2t::scsi::parse_automation_serial(buf.data(), got, library) && !library.empty() &&
      read_vpd(*dev, d2t::scsi::VPD_ELEMENT_ADDRESS, buf, got).ok() &&
      d2t::scsi::parse_element_address(buf.data(), got, address)) {
    id.placed = true;
    id.automation_serial = library;
    id.element_address = address;
  }
  out = std::move(id);
  return true;
}

namespace {

bool listed(d2t::scsi::Device_Kind kind, std::vector<d2t::scsi::Device_Entry>& out) {
  std::shared_ptr<d2t::scsi::Device_Provider> provider = device_provider(nullptr);
  std::vector<d2t::scsi::Device_Entry> entries;
  if (!provider || !provider->list(entries, nullptr)) return false;
  for (const d2t::scsi::Device_Entry& e : entries)
    if (e.kind == kind) out.push_back(e);
  return true;
}

}  // namespace

bool host_drive_identities(std::vector<std::pair<std::string, Drive_Identity>>& out,
                           bool& all_read) {
  out.clear();
  all_read = true;
  std::vector<d2t::scsi::Device_Entry> tapes;
  if (!listed(d2t::scsi::Device_Kind::TAPE, tapes)) {
    all_read = false;
    return false;
  }
  for (const d2t::scsi::Device_Entry& e : tapes) {
    Drive_Identity id;
    if (drive_identity(e.sg_name, id))
      out.emplace_back(e.sg_name, std::move(id));
    else
      all_read = false;
  }
  return true;
}

void other_changer_identities(const std::string& except_sg,
                              std::vector<std::vector<Element_Identity>>& out) {
  out.clear();
  std::vector<d2t::scsi::Device_Entry> changers;
  if (!listed(d2t::scsi::Device_Kind::CHANGER, changers)) return;
  for (const d2t::scsi::Device_Entry& e : changers) {
    if (e.sg_name == except_sg) continue;
    std::vector<Element_Identity> ids;
    if (changer_identities(e.sg_name, ids)) out.push_back(std::move(ids));
  }
}

}  // namespace tools
}  // namespace d2t
