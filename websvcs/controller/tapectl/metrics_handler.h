// GET /metrics: the process's metrics in the Prometheus text format 0.0.4
// (d2t/metrics/metrics.h), Content-Type "text/plain; version=0.0.4", plus
// gauges computed from the stored inventory when the page is served:
//
//   d2t_drive_failures{library,drive}  consecutive failures of the drive
//   d2t_drive_faulty{library,drive}    1 when the drive counts as faulty
//   d2t_slots{library,state}           slots by state: "full" (holds its
//                                      cartridge), "empty" (no cartridge, or
//                                      its cartridge is in a drive),
//                                      "cleaning" (a cleaning cartridge),
//                                      "porter" (import/export slots)
//
// No device is touched and no controller lock is taken: a scrape answers
// while a scan or a move runs. When the inventory cannot be read the page
// still carries the counters (the failure is logged).
#ifndef WEBSVCS_CONTROLLER_TAPECTL_METRICS_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_METRICS_HANDLER_H

#include <vector>

#include "d2t/controller/stored_inventory.h"
#include "d2t/metrics/exposition.h"
#include "websvcs/framework/framework.h"

// The three inventory families for `libraries`, in the order above.
std::vector<d2t::metrics::Family> inventory_families(const std::vector<Stored_Library>& libraries);

class Metrics_Handler : public JSON_RESTful_Handler_Impl2 {
 public:
  Metrics_Handler() : JSON_RESTful_Handler_Impl2(~0UL, 0) {}
  CONCURRENCY concurrency() const override { return THREAD; }
  // Reads no body; answers without waiting for a library.
  unsigned int traits() const override { return READ_ONLY; }
  int handle_get(JSON_RESTful_Channel* channel, Parsed_Request& request) override;
};

extern "C" JSON_RESTful_Handler* _make_Metrics_Handler(void (**gobbler)(void*));

#endif
