// Plug-in loading and route lookup.
#include "websvcs/server/route_table.h"

#include <dlfcn.h>

#include <map>
#include <vector>

#include "websvcs/framework/json_restful_channel.h"

Plugin_Library::Plugin_Library(const std::string& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (!handle_) {
    const char* e = dlerror();
    error_ = e ? e : ("cannot open " + path);
  }
}

Plugin_Library::~Plugin_Library() {
  if (handle_) dlclose(handle_);
}

void* Plugin_Library::symbol(const std::string& name) {
  if (!handle_) return nullptr;
  dlerror();
  void* p = dlsym(handle_, name.c_str());
  if (!p) {
    const char* e = dlerror();
    error_ = e ? e : ("no symbol " + name);
  }
  return p;
}

std::string resolve_library_path(const std::string& name, const std::string& base_dir) {
  if (name.empty() || name[0] == '/' || base_dir.empty()) return name;
  return base_dir + "/" + name;
}

std::string own_module_dir() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&own_module_dir), &info) == 0 || !info.dli_fname) return ".";
  std::string f = info.dli_fname;
  std::string::size_type slash = f.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : f.substr(0, slash);
}

Route::Route(const std::string& path, bool prefix, JSON_RESTful_Handler* handler,
             JSON_RESTful_Handler_Gobbler gobbler, std::shared_ptr<Plugin_Library> library)
    : path_(path),
      prefix_(prefix),
      handler_(handler),
      gobbler_(gobbler),
      library_(std::move(library)),
      serialise_(handler->concurrency() != JSON_RESTful_Handler::THREAD),
      read_only_((handler->traits() & JSON_RESTful_Handler::READ_ONLY) != 0),
      takes_body_((handler->traits() & JSON_RESTful_Handler::TAKES_BODY) != 0) {}

Route::~Route() {
  if (gobbler_) {
    handler_->fini();
    gobbler_(handler_);
  }
  // library_ is released after the handler is gone.
}

int Route::run(JSON_RESTful_Channel& channel, const std::string& body_text, std::string* failure) {
  if (!serialise_) return run_json_restful_handler(*handler_, channel, body_text, failure);
  std::lock_guard<std::mutex> lock(serial_);
  return run_json_restful_handler(*handler_, channel, body_text, failure);
}

Route& Route_Table::add(const std::string& path, bool prefix, JSON_RESTful_Handler& handler) {
  routes_.emplace_back(new Route(path, prefix, &handler, nullptr, nullptr));
  return *routes_.back();
}

bool Route_Table::load(const std::vector<Web_Route_Config>& routes, const std::string& base_dir,
                       std::string& error) {
  std::map<std::string, std::shared_ptr<Plugin_Library>> libraries;
  for (const Web_Route_Config& r : routes) {
    std::string file = resolve_library_path(r.library, base_dir);
    std::shared_ptr<Plugin_Library>& lib = libraries[file];
    if (!lib) {
      lib = std::make_shared<Plugin_Library>(file);
      if (!lib->ok()) {
        error = "cannot load " + file + ": " + lib->error();
        return false;
      }
    }
    void* sym = lib->symbol(r.factory);
    if (!sym) {
      error = "no factory " + r.factory + " in " + file + ": " + lib->error();
      return false;
    }
    JSON_RESTful_Handler_Factory factory = reinterpret_cast<JSON_RESTful_Handler_Factory>(sym);
    JSON_RESTful_Handler_Gobbler gobbler = nullptr;
    JSON_RESTful_Handler* h = factory(&gobbler);
    if (!h) {
      error = r.factory + " of " + file + " created no handler";
      return false;
    }
    if (!gobbler) {
      // A factory must hand out its destroyer; refuse the route, freeing the
      // handler through its virtual destructor.
      delete h;
      error = r.factory + " of " + file + " gave no destroyer";
      return false;
    }
    std::vector<std::string> words(r.args);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    if (h->init(static_cast<int>(words.size()), argv.data()) != 0) {
      gobbler(h);
      error = "handler of " + r.path + " refused to start";
      return false;
    }
    routes_.emplace_back(new Route(r.path, r.prefix, h, gobbler, lib));
    routes_.back()->set_open(r.open);
    routes_.back()->set_at_once(r.at_once);
  }
  return true;
}

Route* Route_Table::find(const std::string& path, std::string& suffix) const {
  Route* best = nullptr;
  for (const auto& r : routes_) {
    if (r->path() == path) {
      suffix.clear();
      return r.get();
    }
  }
  for (const auto& r : routes_) {
    const std::string& p = r->path();
    if (!r->prefix() || path.size() <= p.size() + 1 || path.compare(0, p.size(), p) != 0 ||
        path[p.size()] != '/')
      continue;
    if (!best || p.size() > best->path().size()) best = r.get();
  }
  if (best) suffix = path.substr(best->path().size() + 1);
  return best;
}

void Route_Table::clear() {
  while (!routes_.empty()) routes_.pop_back();
}
