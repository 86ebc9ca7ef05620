// Routes from request paths to handlers, and the plug-in libraries that
// hold the handlers.
#ifndef WEBSVCS_SERVER_ROUTE_TABLE_H
#define WEBSVCS_SERVER_ROUTE_TABLE_H

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "websvcs/framework/json_restful_handler.h"
#include "websvcs/server/web_config.h"

// One dlopen handle; dlclose on destruction. Move-only.
class Plugin_Library {
 public:
  // Opens `path` (RTLD_NOW | RTLD_LOCAL). ok() false and error() set on
  // failure.
  explicit Plugin_Library(const std::string& path);
  ~Plugin_Library();
  Plugin_Library(const Plugin_Library&) = delete;
  Plugin_Library& operator=(const Plugin_Library&) = delete;

  bool ok() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }
  // The address of exported `name`, or null (error() then says why).
  void* symbol(const std::string& name);

 private:
  void* handle_;
  std::string error_;
};

// `name` when it is absolute, otherwise `name` under `base_dir`.
std::string resolve_library_path(const std::string& name, const std::string& base_dir);

// Directory of the shared object (or program) that holds this code, found
// through dladdr; "." when it cannot be told.
std::string own_module_dir();

// One route: a path and the handler serving it. The handler is destroyed
// through its destroyer (after fini()) before the library it came from is
// closed.
class Route {
 public:
  // Takes a handler that init() accepted. `gobbler` null means the route
  // does not own the handler (tests pass handlers they own).
  Route(const std::string& path, bool prefix, JSON_RESTful_Handler* handler,
        JSON_RESTful_Handler_Gobbler gobbler, std::shared_ptr<Plugin_Library> library);
  ~Route();
  Route(const Route&) = delete;
  Route& operator=(const Route&) = delete;

  const std::string& path() const { return path_; }
  bool prefix() const { return prefix_; }
  // GET and HEAD need no bearer token (Web_Route_Config::open).
  bool open() const { return open_; }
  void set_open(bool open) { open_ = open; }
  // From the handler's traits(): requests answered without waiting for
  // robot work (run by the reserved workers), and whether any request of
  // the route may carry a body.
  bool read_only() const { return read_only_; }
  bool takes_body() const { return takes_body_; }
  // Whether the server runs the route's requests on the polling thread
  // that read them, without handing them to a worker: the one rule for
  // that. Only a route marked so (Web_Route_Config::at_once, set_at_once)
  // whose handler is thread-safe (concurrency() THREAD: no lock that a slow
  // request of the same handler could hold), read-only and reads no body.
  bool answers_at_once() const { return at_once_ && !serialise_ && read_only_ && !takes_body_; }
  void set_at_once(bool at_once) { at_once_ = at_once; }
  JSON_RESTful_Handler& handler() { return *handler_; }
  // Runs the request through the handler, one at a time for handlers that
  // do not declare THREAD. See run_json_restful_handler.
  int run(JSON_RESTful_Channel& channel, const std::string& body_text, std::string* failure);

 private:
  std::string path_;
  bool prefix_;
  bool open_ = false;
  bool at_once_ = false;
  JSON_RESTful_Handler* handler_;
  JSON_RESTful_Handler_Gobbler gobbler_;
  std::shared_ptr<Plugin_Library> library_;
  bool serialise_;
  bool read_only_;
  bool takes_body_;
  std::mutex serial_;
};

// The routes of one server. Filled before the server starts and read-only
// while it runs, so lookups take no lock.
class Route_Table {
 public:
  Route_Table() {}
  Route_Table(const Route_Table&) = delete;
  Route_Table& operator=(const Route_Table&) = delete;

  // Adds a handler the caller keeps (no destroyer is called); returns its
  // route.
  Route& add(const std::string& path, bool prefix, JSON_RESTful_Handler& handler);

  // Loads every route of `routes`: opens each library once (relative names
  // under `base_dir`), calls its factory, then the handler's init() with the
  // route's args. False with a reason in `error` on the first failure; the
  // routes loaded before it stay.
  bool load(const std::vector<Web_Route_Config>& routes, const std::string& base_dir,
            std::string& error);

  // The route serving `path`: an exact match, or else the longest prefix
  // route whose path is followed by "/" in `path`. `suffix` gets the rest
  // of the path after that "/" (empty for an exact match). Null when none.
  Route* find(const std::string& path, std::string& suffix) const;

  std::size_t size() const { return routes_.size(); }
  // Destroys the routes in reverse order of creation.
  void clear();
  ~Route_Table() { clear(); }

 private:
  std::vector<std::unique_ptr<Route>> routes_;
};

#endif
