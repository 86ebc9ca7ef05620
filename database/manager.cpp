// Legacy_Manager: configuration, pools per name, schema lookup, fault plan.
#include "database/manager.h"

#include <ace/Log_Msg.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "database/connection_pool.h"
#include "json_spirit/json_spirit.h"

namespace database {
namespace sql {

namespace {

const char* const CONF_TEMPLATE = "/etc/opt/quillon/kestrel3/%s/database.conf";
const char* const STATE_TEMPLATE = "/var/opt/quillon/kestrel3/%s";
const char* const DEFAULT_COMPONENT = "tapemgr";

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string with_component(const char* templ) {
  std::string component = env("COMPONENT");
  if (component.empty()) component = DEFAULT_COMPONENT;
  std::string s = templ;
  std::string::size_type p = s.find("%s");
  return s.replace(p, 2, component);
}

bool starts_with(const std::string& s, const char* prefix) {
  return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "media_controller" -> "_make_Media_Controller_Metadata"
std::string factory_symbol(const std::string& name) {
  std::string s = "_make_";
  bool up = true;
  for (char c : name) {
    if (c == '_') {
      s += '_';
      up = true;
    } else {
      s += up ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
      up = false;
    }
  }
  return s + "_Metadata";
}

typedef Metadata* (*Metadata_Factory)(void (**gobble)(void*));

// A location fit for a message: passwords ("password=...", "://user:pw@")
// are replaced by "***".
std::string redacted(const std::string& url) {
  std::string s = url;
  std::string::size_type p = 0;
  while ((p = s.find("password=", p)) != std::string::npos) {
    p += 9;
    std::string::size_type e = s.find_first_of(" &", p);
    s.replace(p, e == std::string::npos ? std::string::npos : e - p, "***");
  }
  std::string::size_type scheme = s.find("://");
  if (scheme != std::string::npos) {
    std::string::size_type at = s.find('@', scheme + 3);
    std::string::size_type colon = s.find(':', scheme + 3);
    if (at != std::string::npos && colon != std::string::npos && colon < at) {
      s.replace(colon + 1, at - colon - 1, "***");
    }
  }
  return s;
}

}  // namespace

// ---- Location -------------------------------------------------------------

Location Location::parse(const std::string& text, const std::string& name) {
  Location l;
  if (starts_with(text, "postgresql://") || starts_with(text, "postgres://")) {
    l.kind = POSTGRESQL;
    l.target = text;
    return l;
  }
  std::string path;
  if (starts_with(text, "sqlite:")) {
    path = text.substr(7);
    // "sqlite:///abs/path" as well as "sqlite:/abs/path".
    if (starts_with(path, "//")) path = path.substr(2);
  } else if (starts_with(text, "/")) {
    path = text;
  } else if (text.find('=') != std::string::npos) {
    l.kind = POSTGRESQL;
    l.target = text;
    return l;
  }
  if (path.empty()) return l;
  if (path.back() == '/' || is_directory(path)) {
    if (path.back() != '/') path += '/';
    path += name + ".db";
  }
  l.kind = SQLITE;
  l.target = path;
  return l;
}

// ---- Legacy_Manager -------------------------------------------------------

Legacy_Manager::Legacy_Manager() = default;

Legacy_Manager* Legacy_Manager::instance() {
  // Never destroyed: connections may be released by other objects' static
  // destructors at exit, after this one would have gone.
  static Legacy_Manager* manager = new Legacy_Manager;
  return manager;
}

std::string Legacy_Manager::resolve(const std::string& name, std::string& error) {
  if (!override_url_.empty()) return override_url_;
  std::string url = env("D2T_DATABASE_URL");
  if (!url.empty()) return url;

  std::string conf = env("D2T_DATABASE_CONF");
  if (conf.empty()) conf = with_component(CONF_TEMPLATE);
  std::ifstream in(conf);
  if (in) {
    std::stringstream text;
    text << in.rdbuf();
    json_spirit::Value v;
    std::string why;
    if (!json_spirit::read(text.str(), v, &why) || v.type() != json_spirit::obj_type) {
      error = "cannot read database configuration '" + conf +
              "': " + (why.empty() ? std::string("not a JSON object") : why);
      return std::string();
    }
    auto it = v.get_obj().find(name);
    if (it != v.get_obj().end()) {
      if (it->second.type() != json_spirit::str_type) {
        error =
            "database configuration '" + conf + "': the value of '" + name + "' is not a string";
        return std::string();
      }
      return it->second.get_str();
    }
  }
  std::string state = env("D2T_STATE_DIR");
  if (state.empty()) state = with_component(STATE_TEMPLATE);
  return "sqlite:" + state + "/" + name + ".db";
}

std::shared_ptr<Metadata> Legacy_Manager::metadata_for(const std::string& name) {
  auto it = metadata_.find(name);
  if (it != metadata_.end()) return it->second;
  void* sym = ::dlsym(RTLD_DEFAULT, factory_symbol(name).c_str());
  if (!sym) return nullptr;
  Metadata_Factory make = reinterpret_cast<Metadata_Factory>(sym);
  void (*gobble)(void*) = nullptr;
  Metadata* md = make(&gobble);
  if (!md) return nullptr;
  std::shared_ptr<Metadata> owned;
  if (gobble) {
    owned.reset(md, [gobble](Metadata* p) { gobble(p); });
  } else {
    owned.reset(md);
  }
  metadata_[name] = owned;
  return owned;
}

std::shared_ptr<Connection_Pool> Legacy_Manager::pool_for(const std::string& name,
                                                          std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pools_.find(name);
  if (it != pools_.end()) return it->second;
  std::string url = resolve(name, error);
  if (url.empty()) return nullptr;
  Location where = Location::parse(url, name);
  if (where.kind == Location::NONE) {
    error = "database location '" + redacted(url) + "' of '" + name + "' is not understood";
    return nullptr;
  }
  std::shared_ptr<Connection_Pool> pool =
      std::make_shared<Connection_Pool>(name, where, metadata_for(name), busy_timeout_ms_);
  pools_[name] = pool;
  return pool;
}

Connection_var Legacy_Manager::get_connection_r(const std::string& name) {
  std::string error;
  Connection_var c;
  if (name.empty()) {
    error = "no database name";
  } else if (should_fail(Fault_Plan::OP_CONNECT, std::string())) {
    error = "injected fault";
  } else if (std::shared_ptr<Connection_Pool> pool = pool_for(name, error)) {
    c = pool->acquire(error);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (c) {
    errors_.erase(name);
    return c;
  }
  // One log line per distinct reason, not one per request.
  std::string& last = errors_[name];
  if (last != error) {
    ACE_ERROR(
        (LM_ERROR, ACE_TEXT("Failed to open database '%C': %C\n"), name.c_str(), error.c_str()));
    last = error;
  }
  return c;
}

void Legacy_Manager::register_metadata(std::shared_ptr<Metadata> metadata) {
  if (!metadata) return;
  std::lock_guard<std::mutex> lock(mutex_);
  metadata_[metadata->name()] = metadata;
  auto it = pools_.find(metadata->name());
  if (it != pools_.end()) it->second->set_metadata(metadata);
}

bool Legacy_Manager::configure(const std::string& url) {
  if (!url.empty() && Location::parse(url, "x").kind == Location::NONE) return false;
  std::map<std::string, std::shared_ptr<Connection_Pool>> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    override_url_ = url;
    old.swap(pools_);
    errors_.clear();
  }
  for (auto& p : old) p.second->close();
  return true;
}

void Legacy_Manager::reset_for_testing() {
  configure(std::string());
  clear_fault_plan();
}

std::string Legacy_Manager::location_of(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pools_.find(name);
  if (it != pools_.end()) {
    const Location& l = it->second->location();
    return l.kind == Location::SQLITE ? "sqlite:" + l.target : redacted(l.target);
  }
  std::string error;
  return redacted(resolve(name, error));
}

Location::Kind Legacy_Manager::location_kind(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pools_.find(name);
  if (it != pools_.end()) return it->second->location().kind;
  std::string error;
  const std::string text = resolve(name, error);
  if (text.empty()) return Location::NONE;
  return Location::parse(text, name).kind;
}

std::string Legacy_Manager::last_error(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = errors_.find(name);
  return it == errors_.end() ? std::string() : it->second;
}

void Legacy_Manager::set_fault_plan(const Fault_Plan& plan) {
  std::lock_guard<std::mutex> lock(fault_mutex_);
  plan_ = plan;
  plan_seen_ = 0;
  plan_fired_ = 0;
  plan_armed_ = plan.nth > 0;
}

void Legacy_Manager::clear_fault_plan() { set_fault_plan(Fault_Plan()); }

int Legacy_Manager::faults_fired() {
  std::lock_guard<std::mutex> lock(fault_mutex_);
  return plan_fired_;
}

bool Legacy_Manager::should_fail(int operation, const std::string& text) {
  if (!plan_armed_ || Fault_Suppressor::active()) return false;
  std::lock_guard<std::mutex> lock(fault_mutex_);
  if (plan_.nth <= 0 || !(plan_.operations & operation)) return false;
  if (!plan_.match.empty() && text.find(plan_.match) == std::string::npos) return false;
  ++plan_seen_;
  bool fire = plan_seen_ == plan_.nth ||
              (plan_.persistence == Fault_Plan::FROM_THEN_ON && plan_seen_ > plan_.nth);
  if (fire) ++plan_fired_;
  return fire;
}

void Legacy_Manager::set_busy_timeout_ms(int ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  busy_timeout_ms_ = ms < 0 ? 0 : ms;
}

int Legacy_Manager::busy_timeout_ms() {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_timeout_ms_;
}

}  // namespace sql
}  // namespace database
