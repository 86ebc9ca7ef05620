#include "d2t/emulator/replay.h"

#include <algorithm>
#include <set>

#include "d2t/capture/element_pages.h"
#include "d2t/emulator/element_map.h"

namespace d2t {
namespace emulator {

namespace {

using d2t::capture::Exchange;

Reply fail(const Sense_Code& code) {
  Reply r;
  r.sense = code;
  return r;
}

std::string trimmed(const std::uint8_t* p, std::size_t n) {
  std::size_t b = 0, e = n;
  while (b < e && (p[b] == ' ' || p[b] == 0)) ++b;
  while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
  return std::string(reinterpret_cast<const char*>(p + b), e - b);
}

bool is_inquiry(const Exchange& x, bool evpd, std::uint8_t page) {
  return x.cdb.size() >= 6 && x.cdb[0] == 0x12 && ((x.cdb[1] & 0x01) != 0) == evpd &&
         x.cdb[2] == page;
}

// The GOOD answer with most bytes to INQUIRY of (evpd, page), or null.
const Exchange* best_inquiry(const std::vector<Exchange>& list, bool evpd, std::uint8_t page) {
  const Exchange* best = nullptr;
  for (const Exchange& x : list)
    if (is_inquiry(x, evpd, page) && x.status == 0 && (!best || x.data.size() >= best->data.size()))
      best = &x;
  return best;
}

struct Identity_Fields {
  std::string vendor, product, revision;
};

Identity_Fields standard_identity(const std::vector<Exchange>& list) {
  Identity_Fields f;
  const Exchange* x = best_inquiry(list, false, 0);
  if (x && x->data.size() >= 36) {
    f.vendor = trimmed(&x->data[8], 8);
    f.product = trimmed(&x->data[16], 16);
    f.revision = trimmed(&x->data[32], 4);
  }
  return f;
}

const char* const SHAPE_KEYS[] = {"storage_slots", "porter_slots", "drives", "cartridges", "fill"};

}  // namespace

Reply Replay_Identity::inquiry(const std::uint8_t* cdb, std::size_t cdb_len) const {
  if (cdb_len < 6) return fail(sense::INVALID_FIELD_IN_CDB);
  const bool evpd = (cdb[1] & 0x01) != 0;
  if (!evpd && cdb[2] != 0) return fail(sense::INVALID_FIELD_IN_CDB);
  const Exchange* x = best_inquiry(exchanges_, evpd, cdb[2]);
  if (!x) return fail(sense::INVALID_FIELD_IN_CDB);
  Reply r;
  r.data = x->data;
  fit(r.data, get16(cdb + 3));
  return r;
}

std::shared_ptr<const Replay_Changer> Replay_Changer::load(const std::string& path,
                                                           std::string* error) {
  std::shared_ptr<Replay_Changer> r(new Replay_Changer);
  if (!d2t::capture::load_capture(path, r->capture_, error)) return nullptr;
  if (!r->build(error)) {
    if (error) *error = path + ": " + *error;
    return nullptr;
  }
  return r;
}

bool Replay_Changer::build(std::string* error) {
  identity_ = std::make_shared<Replay_Identity>(capture_.changer.exchanges);
  for (const Exchange& x : capture_.changer.exchanges) {
    if (x.status != 0 || x.cdb.size() != 6 || x.cdb[0] != 0x1A || x.data.size() < 4) continue;
    const std::size_t end = std::min<std::size_t>(x.data.size(), std::size_t(x.data[0]) + 1);
    const std::size_t at = 4 + x.data[3];
    if (at + 2 > end) continue;
    const std::uint8_t code = x.data[at] & 0x3F;
    if (code != (x.cdb[2] & 0x3F)) continue;
    Mode_Page& m = mode_pages_[code];
    m.page.assign(x.data.begin() + at,
                  x.data.begin() + std::min(end, at + 2 + std::size_t(x.data[at + 1])));
    m.answer = x.data;
    m.cdb2 = x.cdb[2];
    m.device_specific = x.data[2];
  }
  for (const Exchange& x : capture_.changer.exchanges) {
    if (x.status != 0 || x.cdb.size() != 12 || x.cdb[0] != 0xB8) continue;
    const bool ids = (x.cdb[6] & 0x01) != 0;
    d2t::capture::Raw_Report report;
    if (!d2t::capture::split_element_status(x.data.data(), x.data.size(), report)) continue;
    for (const d2t::capture::Raw_Page& p : report.pages) {
      if (p.type < 1 || p.type > 4) continue;
      Replay_Pages& set = pages_[p.type][ids ? 1 : 0];
      if (!set.present) {
        set.present = true;
        set.flags = p.flags;
        set.descriptor_length = p.descriptor_length;
      }
      if (p.flags != set.flags || p.descriptor_length != set.descriptor_length) continue;
      for (const auto& d : p.descriptors) set.descriptors[d2t::capture::descriptor_address(d)] = d;
    }
  }
  std::set<std::uint16_t> seen;
  for (std::uint8_t type = 1; type <= 4; ++type) {
    std::set<std::uint16_t> list;
    for (const Replay_Pages& set : pages_[type])
      for (const auto& d : set.descriptors)
        if (!seen.count(d.first)) list.insert(d.first);
    seen.insert(list.begin(), list.end());
    addresses_[type].assign(list.begin(), list.end());
  }
  if (seen.empty()) {
    if (error) *error = "the capture holds no element status";
    return false;
  }
  const std::vector<std::uint16_t>* order[] = {&addresses_[2], &addresses_[3], &addresses_[4]};
  std::int32_t index = 0;
  for (const auto* list : order)
    for (std::uint16_t a : *list) element_[a] = index++;
  if (addresses_[2].size() > MAX_STORAGE_SLOTS || addresses_[3].size() > MAX_PORTER_SLOTS ||
      addresses_[4].size() > MAX_DRIVES) {
    if (error) *error = "the capture has more elements than the emulator holds";
    return false;
  }
  // How each recorded cartridge looks, by barcode (the first one seen).
  for (std::uint8_t type = 2; type <= 4; ++type) {
    for (const Replay_Pages& set : pages_[type]) {
      for (const auto& d : set.descriptors) {
        if (!recorded_full(d.second)) continue;
        const std::string barcode = recorded_barcode(d.second, set.flags);
        if (cartridges_.count(barcode)) continue;
        Replay_Cartridge& c = cartridges_[barcode];
        if ((set.flags & 0x80) && d.second.size() >= 48)
          c.tag.assign(d.second.begin() + 12, d.second.begin() + 48);
        if (d.second.size() > 9) c.medium_type = d.second[9] & 0x07;
      }
    }
  }
  return true;
}

std::int32_t Replay_Changer::element_of(std::uint16_t address) const {
  auto it = element_.find(address);
  return it == element_.end() ? -1 : it->second;
}

std::uint16_t Replay_Changer::address_of(std::int32_t element) const {
  auto e = static_cast<std::size_t>(element);
  for (std::uint8_t type : {2, 3, 4}) {
    if (e < addresses_[type].size()) return addresses_[type][e];
    e -= addresses_[type].size();
  }
  return 0;
}

bool Replay_Changer::is_transport(std::uint16_t address) const {
  return std::binary_search(addresses_[1].begin(), addresses_[1].end(), address);
}

std::uint8_t Replay_Changer::type_of(std::uint16_t address) const {
  for (std::uint8_t type = 1; type <= 4; ++type)
    if (std::binary_search(addresses_[type].begin(), addresses_[type].end(), address)) return type;
  return 0;
}

const Replay_Pages& Replay_Changer::pages(std::uint8_t type, bool device_ids) const {
  const auto& both = pages_[type <= 4 ? type : 0];
  const Replay_Pages& wanted = both[device_ids ? 1 : 0];
  return wanted.present ? wanted : both[device_ids ? 0 : 1];
}

bool Replay_Changer::recorded_full(const std::vector<std::uint8_t>& d) {
  return d.size() > 2 && (d[2] & 0x01) != 0;
}

std::string Replay_Changer::recorded_barcode(const std::vector<std::uint8_t>& d,
                                             std::uint8_t flags) {
  if (!(flags & 0x80) || d.size() < 48) return std::string();
  return trimmed(&d[12], 32);
}

const Replay_Cartridge& Replay_Changer::cartridge(const std::string& barcode) const {
  static const Replay_Cartridge NONE;
  auto it = cartridges_.find(barcode);
  return it == cartridges_.end() ? NONE : it->second;
}

void Replay_Changer::configure(Changer_Config& out) const {
  const Identity_Fields id = standard_identity(capture_.changer.exchanges);
  out.vendor = id.vendor;
  out.model = id.product;
  out.revision = id.revision;
  out.serial_number = d2t::capture::recorded_serial(capture_.changer);
  out.sg_name = capture_.changer.sg_name;
  out.target_name = capture_.changer.target_name;
  out.lun = capture_.changer.lun;
  out.storage_slots = static_cast<std::uint32_t>(addresses_[2].size());
  out.porter_slots = static_cast<std::uint32_t>(addresses_[3].size());
  out.drives.clear();
  out.cartridges.clear();

  // Which captured drive sits at each data transfer element.
  const std::vector<std::uint16_t>& drive_addresses = addresses_[4];
  std::vector<std::int32_t> placed(drive_addresses.size(), -1);
  std::vector<bool> used(capture_.drives.size(), false);
  for (std::size_t k = 0; k < drive_addresses.size(); ++k) {
    for (std::size_t i = 0; i < capture_.drives.size() && placed[k] < 0; ++i)
      if (!used[i] && capture_.drives[i].element_address == drive_addresses[k]) {
        placed[k] = static_cast<std::int32_t>(i);
        used[i] = true;
      }
  }
  for (std::size_t k = 0; k < drive_addresses.size(); ++k) {
    if (placed[k] >= 0) continue;
    for (bool ids : {true, false}) {
      const Replay_Pages& set = pages_[4][ids ? 1 : 0];
      auto d = set.descriptors.find(drive_addresses[k]);
      if (d == set.descriptors.end()) continue;
      for (std::size_t i = 0; i < capture_.drives.size() && placed[k] < 0; ++i) {
        if (used[i] || capture_.drives[i].element_address >= 0) continue;
        if (d2t::capture::descriptor_names(d->second, set.flags,
                                           d2t::capture::recorded_serial(capture_.drives[i]))) {
          placed[k] = static_cast<std::int32_t>(i);
          used[i] = true;
        }
      }
    }
  }
  std::size_t next = 0;
  for (std::size_t k = 0; k < drive_addresses.size(); ++k) {
    while (placed[k] < 0 && next < capture_.drives.size()) {
      if (!used[next] && capture_.drives[next].element_address < 0) {
        placed[k] = static_cast<std::int32_t>(next);
        used[next] = true;
      }
      ++next;
    }
  }
  for (std::size_t k = 0; k < drive_addresses.size(); ++k) {
    Drive_Config dc;
    if (placed[k] >= 0) {
      const d2t::capture::Device_Capture& c = capture_.drives[placed[k]];
      const Identity_Fields f = standard_identity(c.exchanges);
      dc.serial_number = d2t::capture::recorded_serial(c);
      dc.vendor = f.vendor;
      dc.model = f.product;
      dc.revision = f.revision;
      dc.sg_name = c.sg_name;
      dc.dev_name = c.dev_name;
      dc.target_name = c.target_name;
      dc.lun = c.lun;
      dc.replay_identity = std::make_shared<Replay_Identity>(c.exchanges);
    } else {
      // No device on this host: the element alone, named by its identifier.
      const Replay_Pages& set = pages(4, true);
      auto d = set.descriptors.find(drive_addresses[k]);
      if (d != set.descriptors.end())
        dc.serial_number = d2t::capture::descriptor_serial(d->second, set.flags);
      dc.sg_name.clear();
    }
    out.drives.push_back(std::move(dc));
  }

  // The recorded occupants seed the state.
  for (std::uint8_t type : {2, 3, 4}) {
    const Replay_Pages& set = pages(type, true);
    for (std::uint16_t a : addresses_[type]) {
      auto d = set.descriptors.find(a);
      const Replay_Pages* from = &set;
      if (d == set.descriptors.end()) {
        from = &pages(type, false);
        d = from->descriptors.find(a);
        if (d == from->descriptors.end()) continue;
      }
      if (!recorded_full(d->second)) continue;
      Cartridge_Config k;
      const std::int32_t e = element_of(a);
      k.barcode = recorded_barcode(d->second, from->flags);
      k.cleaning = d->second.size() > 9 && (d->second[9] & 0x07) == 2;
      if (type == 4) {
        k.drive = e - static_cast<std::int32_t>(out.storage_slots + out.porter_slots);
        if (d->second.size() > 11 && (d->second[9] & 0x80)) {
          std::int32_t source = element_of(static_cast<std::uint16_t>(get16(&d->second[10])));
          if (source >= 0 &&
              source < static_cast<std::int32_t>(out.storage_slots + out.porter_slots))
            k.source_slot = source + 1;
        }
      } else {
        k.slot = e + 1;
      }
      out.cartridges.push_back(std::move(k));
    }
  }
}

bool apply_capture(const json_spirit::Object& o, const std::string& folder, Changer_Config& out,
                   std::string& err) {
  auto it = o.find("capture");
  if (it == o.end() || it->second.is_null()) return true;
  if (it->second.type() != json_spirit::str_type || it->second.get_str().empty()) {
    err = "\"capture\" must name a capture file";
    return false;
  }
  for (const char* key : SHAPE_KEYS) {
    if (o.count(key)) {
      err = std::string("a replayed changer takes \"") + key + "\" from its capture";
      return false;
    }
  }
  const std::string& name = it->second.get_str();
  const std::string path = name[0] == '/' ? name : folder + "/" + name;
  std::shared_ptr<const Replay_Changer> replay = Replay_Changer::load(path, &err);
  if (!replay) return false;
  replay->configure(out);
  out.replay = replay;
  return true;
}

}  // namespace emulator
}  // namespace d2t
