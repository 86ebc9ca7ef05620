// Prints a metrics page for tests/parse_page.py: label values that hold
// every character the format must escape, histogram buckets whose bounds
// have no short binary form, and the inventory families of a library with
// a cartridge in a drive, an unlabelled cartridge, a cleaning cartridge, an
// empty slot and a porter slot.
#include <cstdio>

#include "d2t/metrics/metrics.h"
#include "websvcs/controller/tapectl/metrics_handler.h"

namespace {

d2t::Media_var slot(int number, const std::string& tag, d2t::Media_State state, bool porter) {
  d2t::Media_var m(new d2t::Media());
  m->slot_number(number);
  m->media_tag(tag);
  m->state(state);
  m->is_porter(porter);
  return m;
}

}  // namespace

int main() {
  namespace m = d2t::metrics;
  const std::string evil = "LIB \"A\\B\"\nline2";
  m::record_move(evil, m::MOVE_LOAD, true, 12.5);
  m::record_move(evil, m::MOVE_LOAD, false, 700);
  m::record_move("EMU-LIB-0001", m::MOVE_SCAN_UNLOAD, true, 3);
  m::record_scan(evil, true, 95);
  m::record_scan(evil, false, 5);
  m::record_http("/d2/r/tapectl/info", 200, 0.002);
  std::vector<m::Family> families = m::collect();

  // Slot 1 full, 2 the home of the cartridge in drive D1, 3 unlabelled,
  // 4 empty, 5 cleaning, 6 the porter slot.
  Stored_Library library;
  library.changer = d2t::Changer_var(new d2t::Changer());
  library.changer->serial_number(evil);
  d2t::Drive_var loaded(new d2t::Drive());
  loaded->serial_number("D\\1");
  loaded->slot_number(2);
  loaded->media_tag("T00002L9");
  loaded->faulty(true);
  library.changer->add_drive(loaded);
  library.failures.push_back(3);
  library.host_ids.push_back("H\"1");
  library.changer->add_media(slot(1, "T00001L9", d2t::MST_UNKNOWN, false));
  library.changer->add_media(slot(2, "T00002L9", d2t::MST_UNKNOWN, false));
  library.changer->add_media(slot(3, "", d2t::MST_EMPTY, false));
  library.changer->add_media(slot(4, "", d2t::MST_EMPTY, false));
  library.changer->add_media(slot(5, "CLN001L1", d2t::MST_CLEAN, false));
  library.changer->add_media(slot(6, "", d2t::MST_EMPTY, true));
  library.occupied = {1, 3, 5};
  for (m::Family& f : inventory_families({library}, true)) families.push_back(std::move(f));
  // The same families when the inventory cannot be read, renamed so that
  // both sets fit on one page.
  for (m::Family& f : inventory_families({}, false)) {
    f.name = "unreadable_" + f.name;
    for (m::Sample& s : f.samples) s.name = "unreadable_" + s.name;
    families.push_back(std::move(f));
  }

  families.push_back(
      m::Family{"help_check", "Help with \\ and\nnewline.", "gauge", {{"help_check", {}, 1}}});
  const std::string page = m::render(families);
  std::fwrite(page.data(), 1, page.size(), stdout);
  return 0;
}
