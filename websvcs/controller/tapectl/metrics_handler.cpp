// The metrics page.
#include "websvcs/controller/tapectl/metrics_handler.h"

#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "d2t/controller/tape_controller.h"
#include "d2t/metrics/metrics.h"

namespace m = d2t::metrics;

std::vector<m::Family> inventory_families(const std::vector<Stored_Library>& libraries,
                                          bool readable) {
  m::Family up{"d2t_inventory_readable",
               "1 when this scrape could read the stored inventory, else 0.",
               "gauge",
               {{"d2t_inventory_readable", {}, readable ? 1.0 : 0.0}}};
  m::Family failures{
      "d2t_drive_failures", "Consecutive failures of each drive, as stored.", "gauge", {}};
  m::Family faulty{
      "d2t_drive_faulty", "1 when the drive is faulty (failures at the threshold).", "gauge", {}};
  m::Family drive_hosts{"d2t_drive_info",
                        "Always 1: each stored drive of a library and the host it is attached to.",
                        "gauge",
                        {}};
  m::Family slots{"d2t_slots", "Slots of each library by what they hold.", "gauge", {}};
  const Slot_Contents states[] = {Slot_Contents::FULL,     Slot_Contents::EMPTY,
                                  Slot_Contents::IN_DRIVE, Slot_Contents::UNLABELLED,
                                  Slot_Contents::CLEANING, Slot_Contents::PORTER};
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
      m::Labels host = labels;
      host.push_back({"host_id", i < l.host_ids.size() ? l.host_ids[i] : std::string()});
      drive_hosts.samples.push_back({drive_hosts.name, host, 1.0});
    }
    double counts[sizeof states / sizeof states[0]] = {};
    for (const d2t::Media_var& s : l.changer->medias()) {
      if (s.null()) continue;
      const Slot_Contents contents = slot_contents(l, *s);
      for (std::size_t i = 0; i < sizeof states / sizeof states[0]; ++i) {
        if (states[i] == contents) ++counts[i];
      }
    }
    for (std::size_t i = 0; i < sizeof states / sizeof states[0]; ++i) {
      slots.samples.push_back({slots.name,
                               {{"library", library}, {"state", slot_contents_name(states[i])}},
                               counts[i]});
    }
  }
  return {up, failures, faulty, drive_hosts, slots};
}

int Metrics_Handler::handle_get(JSON_RESTful_Channel* channel, Parsed_Request&) {
  std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  const int threshold = controller ? controller->faulty_threshold()
                                   : static_cast<int>(d2t::MAX_DRIVE_CONSECUTIVE_FAILURES);
  std::vector<Stored_Library> libraries;
  // The reader has logged why it failed; the page says so in its gauges.
  const bool readable = read_stored_inventory(nullptr, threshold, libraries);
  if (!readable) m::record_inventory_read_error();
  std::vector<m::Family> families = m::collect();
  for (m::Family& f : inventory_families(libraries, readable)) families.push_back(std::move(f));
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
