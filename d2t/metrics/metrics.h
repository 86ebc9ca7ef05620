// The process's metrics: what the controller and the web service record,
// and the page GET /metrics serves.
//
// One registry per process (this is a shared library, so the controller and
// the web service plug-ins record into the same one). Every function may be
// called from any thread; recording takes one short lock of one family and
// never waits for a device. Names and labels:
//
//   d2t_moves_total{library,kind,result}      counter; kind one of the MOVE_*
//                                             texts, result "ok" | "failed"
//   d2t_move_duration_seconds{library,kind}   histogram
//   d2t_scans_total{library,result}           counter; result "ok" | "failed"
//   d2t_scan_duration_seconds{library}        histogram: library scans that
//                                             completed (failed ones are
//                                             counted by d2t_scans_total only)
//   d2t_http_requests_total{route,code}       counter
//   d2t_http_request_duration_seconds{route}  histogram
//   d2t_http_abandoned_total{route}           counter; requests whose
//                                             client went away before
//                                             their operation started (it
//                                             was dropped, nothing moved)
//   d2t_inventory_read_errors_total           counter: scrapes that could
//                                             not read the stored inventory
//   d2t_build_info{version,revision}          gauge, always 1: the product
//                                             version and source revision
//                                             ("unknown" outside a checkout)
//
// Histogram bucket bounds are written in their shortest exact form
// (le="0.025"). The inventory gauges (readable, drive failures, faulty
// drives, slots by state) are computed when the page is served, by the
// metrics handler.
#ifndef D2T_METRICS_METRICS_H
#define D2T_METRICS_METRICS_H

#include <string>
#include <vector>

#include "d2t/metrics/exposition.h"
#include "d2t/metrics/registry.h"

namespace d2t {
namespace metrics {

// Move kinds.
extern const char* const MOVE_LOAD;         // "load": a cartridge into a drive
extern const char* const MOVE_UNLOAD;       // "unload": a drive back to a slot
extern const char* const MOVE_TRANSFER;     // "transfer": slot to slot
extern const char* const MOVE_SCAN_LOAD;    // "scan_load": a load of a library scan
extern const char* const MOVE_SCAN_UNLOAD;  // "scan_unload": an unload of a library scan

// Counts one cartridge move of `library` (the changer's serial number) and
// its duration.
void record_move(const std::string& library, const char* kind, bool ok, double seconds);
// Counts one library scan with its result; a completed one (`ok`) also
// records its duration.
void record_scan(const std::string& library, bool ok, double seconds);
// Counts one HTTP request: `route` is the configured route path that
// served it (or another bounded text, never the raw request path), `code`
// the reply status.
void record_http(const std::string& route, int code, double seconds);
// Counts one request of `route` (a configured route path) dropped because
// its client went away before its operation started.
void record_abandoned(const std::string& route);

// Counts one failed read of the stored inventory by a scrape.
void record_inventory_read_error();

// The families above as they stand, in the order listed.
std::vector<Family> collect();
// Readers of single values, for tests and tools.
double moves(const std::string& library, const char* kind, bool ok);
double scans(const std::string& library, bool ok);
double http_requests(const std::string& route, int code);
double abandoned(const std::string& route);

// The page: every family of `families` written in turn.
std::string render(const std::vector<Family>& families);

}  // namespace metrics
}  // namespace d2t

#endif
