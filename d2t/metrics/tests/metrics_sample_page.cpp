// Prints a metrics page for tests/parse_page.py: label values that hold
// every character the format must escape, histogram buckets whose bounds
// have no short binary form, and the inventory families of a library with
// a faulty drive and one full slot (how each slot is counted is the
// read-only handler test's, on a stored inventory).
#include <cstdio>

#include "d2t/metrics/metrics.h"
#include "websvcs/controller/tapectl/metrics_handler.h"

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

  Stored_Library library;
  library.changer = d2t::Changer_var(new d2t::Changer());
  library.changer->serial_number(evil);
  d2t::Drive_var drive(new d2t::Drive());
  drive->serial_number("D\\1");
  drive->faulty(true);
  library.changer->add_drive(drive);
  library.failures.push_back(3);
  library.host_ids.push_back("H\"1");
  d2t::Media_var full(new d2t::Media());
  full->slot_number(1);
  full->media_tag("T00001L9");
  library.changer->add_media(full);
  library.occupied = {1};
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
