// Prints a metrics page whose label values hold every character the format
// must escape, for tests/parse_page.py.
#include <cstdio>

#include "d2t/metrics/metrics.h"

int main() {
  namespace m = d2t::metrics;
  const std::string evil = "LIB \"A\\B\"\nline2";
  m::record_move(evil, m::MOVE_LOAD, true, 12.5);
  m::record_move(evil, m::MOVE_LOAD, false, 700);
  m::record_move("EMU-LIB-0001", m::MOVE_SCAN_UNLOAD, true, 3);
  m::record_scan(evil, 95);
  m::record_http("/d2/r/tapectl/info", 200, 0.002);
  std::vector<m::Family> families = m::collect();
  families.push_back(m::Family{"d2t_drive_faulty",
                               "Help with \\ and\nnewline.",
                               "gauge",
                               {{"d2t_drive_faulty", {{"library", evil}, {"drive", "D\\1"}}, 1}}});
  const std::string page = m::render(families);
  std::fwrite(page.data(), 1, page.size(), stdout);
  return 0;
}
