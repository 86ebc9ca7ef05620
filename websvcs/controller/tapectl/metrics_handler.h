// GET /metrics: the process's metrics in the Prometheus text format 0.0.4
// (d2t/metrics/metrics.h), Content-Type "text/plain; version=0.0.4", plus
// gauges computed from the stored inventory when the page is served:
//
//   d2t_inventory_readable             1 when this scrape read the stored
//                                      inventory, 0 when it could not (the
//                                      families below then have no samples,
//                                      but their HELP and TYPE stay)
//   d2t_drive_failures{library,drive}  consecutive failures of the drive
//   d2t_drive_faulty{library,drive}    1 when the drive counts as faulty
//   d2t_drive_info{library,drive,host_id}
//                                      always 1: every stored drive of the
//                                      library, of every host sharing it,
//                                      and the id of the host it is
//                                      attached to ("" in an inventory only
//                                      one host ever used)
//   d2t_slots{library,state}           slots by what they hold (every state
//                                      written for every library, 0 too):
//                                      "full" (its labelled data cartridge),
//                                      "empty" (no cartridge), "in_drive"
//                                      (home of a cartridge in a drive),
//                                      "unlabelled" (a cartridge without a
//                                      label), "cleaning" (a cleaning
//                                      cartridge), "porter" (import/export
//                                      slots, whatever they hold); see
//                                      slot_contents() in stored_inventory.h
//
// No device is touched and no controller lock is taken: a scrape answers
// while a scan or a move runs. A failed read also counts in
// d2t_inventory_read_errors_total (the reader logs it).
#ifndef WEBSVCS_CONTROLLER_TAPECTL_METRICS_HANDLER_H
#define WEBSVCS_CONTROLLER_TAPECTL_METRICS_HANDLER_H

#include <vector>

#include "d2t/controller/stored_inventory.h"
#include "d2t/metrics/exposition.h"
#include "websvcs/framework/framework.h"

// The four inventory families for `libraries`, in the order above;
// `readable` is whether the read that gave them succeeded.
std::vector<d2t::metrics::Family> inventory_families(const std::vector<Stored_Library>& libraries,
                                                     bool readable);

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
