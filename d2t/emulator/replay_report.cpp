// READ ELEMENT STATUS of a replayed changer: the recorded descriptors,
// changed only where the state moved cartridges.
#include <algorithm>

#include "d2t/emulator/element_report.h"
#include "d2t/emulator/replay.h"
#include "d2t/emulator/state.h"

namespace d2t {
namespace emulator {

namespace {

const std::size_t TAG_AT = 12;
const std::size_t TAG_LEN = 36;

// Makes descriptor `d` show the occupant the state has at its element.
void show_occupant(const Replay_Changer& replay, const Changer_State& state, std::int32_t element,
                   std::uint8_t flags, std::vector<std::uint8_t>& d) {
  const std::int32_t k = state.occupant[element];
  const Cartridge_State* c = k >= 0 ? &state.cartridges[k] : nullptr;
  const bool recorded = Replay_Changer::recorded_full(d);
  if (recorded == (c != nullptr) &&
      (!c || Replay_Changer::recorded_barcode(d, flags) == c->barcode))
    return;  // as recorded
  if (d.size() < 12) return;
  d[2] = static_cast<std::uint8_t>((d[2] & ~0x01) | (c ? 0x01 : 0x00));
  std::size_t tags = ((flags & 0x80) ? 1 : 0) + ((flags & 0x40) ? 1 : 0);
  std::size_t tag_end = std::min(d.size(), TAG_AT + tags * TAG_LEN);
  std::fill(d.begin() + TAG_AT, d.begin() + tag_end, 0);
  if (!c) {
    d[9] = 0;
    d[10] = d[11] = 0;
    return;
  }
  const Replay_Cartridge& look = replay.cartridge(c->barcode);
  if ((flags & 0x80) && tag_end >= TAG_AT + TAG_LEN) {
    if (!look.tag.empty())
      std::copy(look.tag.begin(), look.tag.end(), d.begin() + TAG_AT);
    else if (!c->barcode.empty())
      put_ascii(&d[TAG_AT], 32, c->barcode);
  }
  d[9] = static_cast<std::uint8_t>(c->cleaning ? 2 : look.medium_type);
  d[10] = d[11] = 0;
  if (c->source >= 0) {
    d[9] |= 0x80;  // SValid
    put16(&d[10], replay.address_of(c->source));
  }
}

// Drops the volume tags of a descriptor.
void drop_tags(std::uint8_t flags, std::vector<std::uint8_t>& d) {
  std::size_t tags = ((flags & 0x80) ? 1 : 0) + ((flags & 0x40) ? 1 : 0);
  std::size_t end = std::min(d.size(), TAG_AT + tags * TAG_LEN);
  if (end > TAG_AT) d.erase(d.begin() + TAG_AT, d.begin() + end);
}

}  // namespace

std::vector<std::uint8_t> replay_element_status(const Replay_Changer& replay,
                                                const Changer_State& state,
                                                const Element_Request& request) {
  struct Item {
    std::uint16_t address;
    std::uint8_t type;
  };
  std::vector<Item> items;
  for (std::uint8_t type = 1; type <= 4; ++type) {
    if (request.type != 0 && request.type != type) continue;
    for (std::uint16_t a : replay.addresses(type))
      if (a >= request.start) items.push_back({a, type});
  }
  std::sort(items.begin(), items.end(),
            [](const Item& x, const Item& y) { return x.address < y.address; });
  if (items.size() > request.count) items.resize(request.count);

  std::vector<std::uint8_t> out(8, 0);
  std::size_t page = 0;  // offset of the open page header; 0 when none
  std::uint8_t page_type = 0;
  const Replay_Pages* page_set = nullptr;
  for (const Item& item : items) {
    const Replay_Pages* set = &replay.pages(item.type, request.device_ids);
    auto found = set->descriptors.find(item.address);
    if (found == set->descriptors.end()) {
      set = &replay.pages(item.type, !request.device_ids);
      found = set->descriptors.find(item.address);
      if (found == set->descriptors.end()) continue;
    }
    std::vector<std::uint8_t> d = found->second;
    const std::int32_t element = replay.element_of(item.address);
    if (element >= 0 && static_cast<std::uint32_t>(element) < state.elements())
      show_occupant(replay, state, element, set->flags, d);
    std::uint8_t flags = set->flags;
    std::uint16_t length = set->descriptor_length;
    if (!request.volume_tags && (flags & 0xC0)) {
      const std::size_t before = d.size();
      drop_tags(flags, d);
      length =
          static_cast<std::uint16_t>(length - std::min<std::size_t>(length, before - d.size()));
      flags &= 0x3F;
    }
    if (page == 0 || page_type != item.type || page_set != set) {
      page = out.size();
      out.resize(page + 8, 0);
      out[page] = item.type;
      out[page + 1] = flags;
      put16(&out[page + 2], length);
      page_type = item.type;
      page_set = set;
    }
    out.insert(out.end(), d.begin(), d.end());
    put24(&out[page + 5], static_cast<std::uint32_t>(out.size() - page - 8));
    if (get16(&out[2]) == 0) put16(&out[0], item.address);
    put16(&out[2], get16(&out[2]) + 1);
  }
  put24(&out[5], static_cast<std::uint32_t>(out.size() - 8));
  return out;
}

}  // namespace emulator
}  // namespace d2t
