// The metrics page.
#include "websvcs/controller/tapectl/metrics_handler.h"

#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "d2t/controller/tape_controller.h"
#include "d2t/metrics/metrics.h"

namespace m = d2t::metrics;

std::vector<m::Family> inventory_families(const std::vector<Stored_Library>& libraries) {
  m::Family failures{
      "d2t_drive_failures", "Consecutive failures of each drive, as stored.", "gauge", {}};
  m::Family faulty{
      "d2t_drive_faulty", "1 when the drive is faulty (failures at the threshold).", "gauge", {}};
  m::Family slots{"d2t_slots", "Slots of each library by state.", "gauge", {}};
  for (const Stored_Library& l : libraries) {
    if (l.changer.null()) continue;
    const std::string& library = l.changer->serial_number();
    const auto& drives = l.changer->drives();
    for (std::size_t i = 0; i < drives.size(); ++i) {
      if (drives[i].null()) continue;
      const m::Labels labels{{"library", library}, {"drive", drives[i]->serial_number()}};
      failures.samples.push_back(
          {failures.name, labels, static_cast<double>(i < l.failures.size() ? l.failures[i] : 0)});
      faulty.samples.push_back({faulty.name, labels, drives[i]->faulty() ? 1.0 : 0.0});
    }
    double full = 0, empty = 0, cleaning = 0, porter = 0;
    for (const d2t::Media_var& s : l.changer->medias()) {
      if (s.null()) continue;
      if (s->is_porter()) {
        ++porter;
      } else if (s->state() == d2t::MST_EMPTY || home_of_loaded(l, s->slot_number())) {
        ++empty;
      } else if (s->state() == d2t::MST_CLEAN) {
        ++cleaning;
      } else {
        ++full;
      }
    }
    const std::pair<const char*, double> counts[] = {
        {"full", full}, {"empty", empty}, {"cleaning", cleaning}, {"porter", porter}};
    for (const auto& c : counts) {
      slots.samples.push_back({slots.name, {{"library", library}, {"state", c.first}}, c.second});
    }
  }
  return {failures, faulty, slots};
}

int Metrics_Handler::handle_get(JSON_RESTful_Channel* channel, Parsed_Request&) {
  std::vector<m::Family> families = m::collect();
  std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  const int threshold = controller ? controller->faulty_threshold()
                                   : static_cast<int>(d2t::MAX_DRIVE_CONSECUTIVE_FAILURES);
  std::vector<Stored_Library> libraries;
  if (read_stored_inventory(nullptr, threshold, libraries)) {
    for (m::Family& f : inventory_families(libraries)) families.push_back(std::move(f));
  }
  return channel->send_text(m::render(families), m::TEXT_CONTENT_TYPE);
}

namespace {
void _gobble_Metrics_Handler(void* p) { delete static_cast<JSON_RESTful_Handler*>(p); }
}  // namespace

extern "C" JSON_RESTful_Handler* _make_Metrics_Handler(void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = _gobble_Metrics_Handler;
  JSON_RESTful_Handler* h = new (std::nothrow) Metrics_Handler();
  if (h == nullptr) errno = ENOMEM;
  return h;
}
