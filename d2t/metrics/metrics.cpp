// The process-wide registry.
#include "d2t/metrics/metrics.h"

#include <string>
#include <utility>

namespace d2t {
namespace metrics {

const char* const MOVE_LOAD = "load";
const char* const MOVE_UNLOAD = "unload";
const char* const MOVE_TRANSFER = "transfer";
const char* const MOVE_SCAN_LOAD = "scan_load";
const char* const MOVE_SCAN_UNLOAD = "scan_unload";

namespace {

// Robot moves take seconds to minutes; scans minutes to hours; requests
// milliseconds, or a move's time when they wait for one.
const std::vector<double> MOVE_BOUNDS = {1, 2.5, 5, 10, 20, 30, 60, 120, 300, 600};
const std::vector<double> SCAN_BOUNDS = {10, 30, 60, 120, 300, 600, 1200, 1800, 3600, 7200};
const std::vector<double> HTTP_BOUNDS = {0.001, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5,
                                         1,     2.5,   5,    10,    30,   60,  300};

struct Registry {
  Counter_Family moves{"d2t_moves_total",
                       "Cartridge moves by library, kind and result.",
                       {"library", "kind", "result"}};
  Histogram_Family move_seconds{"d2t_move_duration_seconds",
                                "Duration of cartridge moves by library and kind.",
                                {"library", "kind"},
                                MOVE_BOUNDS};
  Counter_Family scans{
      "d2t_scans_total", "Library scans by library and result.", {"library", "result"}};
  Histogram_Family scan_seconds{"d2t_scan_duration_seconds",
                                "Duration of library scans that completed.",
                                {"library"},
                                SCAN_BOUNDS};
  Counter_Family http{
      "d2t_http_requests_total", "HTTP requests by route and status code.", {"route", "code"}};
  Histogram_Family http_seconds{"d2t_http_request_duration_seconds",
                                "Duration of HTTP requests by route.",
                                {"route"},
                                HTTP_BOUNDS};
  Counter_Family abandoned{"d2t_http_abandoned_total",
                           "Requests dropped unstarted because their client went away, by route.",
                           {"route"}};
  Counter_Family inventory_read_errors{
      "d2t_inventory_read_errors_total", "Scrapes that could not read the stored inventory.", {}};

  Registry() { inventory_read_errors.add({}, 0); }  // shown as 0 from the start
};

// Built on first use, never destroyed: threads may still record while the
// process exits.
Registry& registry() {
  static Registry* r = new Registry();
  return *r;
}

const char* result_of(bool ok) { return ok ? "ok" : "failed"; }

}  // namespace

void record_move(const std::string& library, const char* kind, bool ok, double seconds) {
  const std::string k = kind ? kind : "";
  registry().moves.add({library, k, result_of(ok)});
  registry().move_seconds.observe({library, k}, seconds);
}

void record_scan(const std::string& library, bool ok, double seconds) {
  registry().scans.add({library, result_of(ok)});
  if (ok) registry().scan_seconds.observe({library}, seconds);
}

void record_abandoned(const std::string& route) { registry().abandoned.add({route}); }

void record_inventory_read_error() { registry().inventory_read_errors.add({}); }

void record_http(const std::string& route, int code, double seconds) {
  registry().http.add({route, std::to_string(code)});
  registry().http_seconds.observe({route}, seconds);
}

std::vector<Family> collect() {
  Registry& r = registry();
  Family build{"d2t_build_info", "Version and source revision of this build.", "gauge", {}};
  build.samples.push_back(
      {build.name, {{"version", D2T_BUILD_VERSION}, {"revision", D2T_BUILD_REVISION}}, 1});
  return {r.moves.collect(),     r.move_seconds.collect(),
          r.scans.collect(),     r.scan_seconds.collect(),
          r.http.collect(),      r.http_seconds.collect(),
          r.abandoned.collect(), r.inventory_read_errors.collect(),
          std::move(build)};
}

double scans(const std::string& library, bool ok) {
  return registry().scans.value({library, result_of(ok)});
}

double moves(const std::string& library, const char* kind, bool ok) {
  return registry().moves.value({library, kind ? kind : "", result_of(ok)});
}

double http_requests(const std::string& route, int code) {
  return registry().http.value({route, std::to_string(code)});
}

double abandoned(const std::string& route) { return registry().abandoned.value({route}); }

std::string render(const std::vector<Family>& families) {
  std::string out;
  for (const Family& f : families) write_family(f, out);
  return out;
}

}  // namespace metrics
}  // namespace d2t
