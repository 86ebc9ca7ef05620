// The built-in route table.
#include "websvcs/server/default_routes.h"

#include <set>
#include <string>

namespace {

Web_Route_Config route(const char* path, const char* library, const char* factory,
                       bool prefix = false, bool open = false) {
  Web_Route_Config r;
  r.path = path;
  r.library = library;
  r.factory = factory;
  r.prefix = prefix;
  r.open = open;
  return r;
}

// A route whose handler answers from memory at once (Web_Route_Config::
// at_once): the server answers it on the polling thread.
Web_Route_Config at_once(Web_Route_Config r) {
  r.at_once = true;
  return r;
}

}  // namespace

std::vector<Web_Route_Config> default_routes() {
  const char* const TAPECTL = "libtapectl_web.so";
  const char* const CONSOLE = "libconsole_web.so";
  return {
      route("/d2/r/tapectl/list", TAPECTL, "_make_JSON_RESTful_List_Handler"),
      route("/d2/r/tapectl/info", TAPECTL, "_make_JSON_RESTful_Controller_Info_Handler"),
      route("/d2/r/tapectl/changer/refresh", TAPECTL, "_make_JSON_RESTful_Changer_Refresh_Handler"),
      route("/d2/r/tapectl/media/transfer", TAPECTL, "_make_JSON_RESTful_Media_Transfer_Handler"),
      route("/d2/r/tapectl/drive/load", TAPECTL, "_make_Drive_Load_Handler"),
      route("/d2/r/tapectl/inventory", TAPECTL, "_make_Inventory_Handler"),
      // A snapshot of the controller's queues, taken under its short lock.
      at_once(route("/d2/r/tapectl/operations", TAPECTL, "_make_Operations_Handler")),
      route("/metrics", TAPECTL, "_make_Metrics_Handler"),
      route("/d2/r/tapectl/drive/unload", TAPECTL, "_make_Drive_Unload_Handler"),
      // The console's files, read into memory when the handler starts.
      at_once(route("/", CONSOLE, "_make_Console_Handler", false, true)),
      at_once(route("/ui/", CONSOLE, "_make_Console_Handler", false, true)),
      at_once(route("/ui", CONSOLE, "_make_Console_Handler", true, true)),
  };
}

std::vector<Web_Route_Config> merge_routes(const std::vector<Web_Route_Config>& defaults,
                                           const std::vector<Web_Route_Config>& configured) {
  std::vector<Web_Route_Config> out;
  std::set<std::string> replaced;
  for (const Web_Route_Config& d : defaults) {
    const Web_Route_Config* chosen = &d;
    for (const Web_Route_Config& c : configured) {
      if (c.path == d.path) chosen = &c;
    }
    if (chosen != &d) replaced.insert(d.path);
    out.push_back(*chosen);
  }
  for (const Web_Route_Config& c : configured) {
    if (replaced.count(c.path) == 0) out.push_back(c);
  }
  return out;
}
