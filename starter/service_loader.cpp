#include "starter/service_loader.h"

#include <ace/Log_Msg.h>
#include <ace/Service_Config.h>
#include <ace/Service_Object.h>
#include <ace/Service_Repository.h>
#include <ace/Service_Types.h>
#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <sstream>

#include "runtime/hosted_service.h"
#include "starter/service_directives.h"
#include "starter/service_retirer.h"

namespace {

// What the host loaded, one entry per directive that succeeded, in order.
struct Loaded_Directive {
  Service_Directive directive;
  std::string files;  // named_files() when it was loaded
};
std::vector<Loaded_Directive> g_loaded;

bool is_service_loaded(const std::string& name) {
  const std::vector<std::string> names = loaded_service_names();
  return std::find(names.begin(), names.end(), name) != names.end();
}

Hosted_Service* hosted_service(const std::string& name) {
  const ACE_Service_Type* type = nullptr;
  if (name.empty() || ACE_Service_Repository::instance()->find(name.c_str(), &type) < 0 ||
      type == nullptr || type->type() == nullptr ||
      type->type()->service_type() != ACE_Service_Type::SERVICE_OBJECT)
    return nullptr;
  return dynamic_cast<Hosted_Service*>(static_cast<ACE_Service_Object*>(type->type()->object()));
}

// Why the "dynamic NAME ... LIBRARY:FACTORY(...)" directive `line` left no
// service behind.
std::string diagnose_directive(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w && w[0] != '"';) words.push_back(w);
  if (words.size() < 3 || words[0] != "dynamic") return "directive '" + line + "' failed";
  const std::string& name = words[1];
  if (is_service_loaded(name)) return "directive '" + line + "' failed";

  std::string library, factory;
  for (size_t i = 2; i < words.size(); ++i) {
    const size_t colon = words[i].rfind(':', words[i].find('('));
    if (colon == std::string::npos || colon == 0) continue;
    library = words[i].substr(0, colon);
    factory = words[i].substr(colon + 1);
    factory = factory.substr(0, factory.find('('));
    break;
  }
  if (library.empty()) return "service " + name + " was not loaded";

  ::dlerror();
  void* handle = ::dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    return "service " + name + ": library " + library +
           " does not load: " + (why != nullptr ? why : "unknown error");
  }
  const bool has_factory = ::dlsym(handle, factory.c_str()) != nullptr;
  ::dlclose(handle);
  if (!has_factory) {
    return "service " + name + ": factory " + factory + " not found in " + library;
  }
  return "service " + name + ": its factory returned no object or its init failed";
}

// Processes one directive; false (the reason logged) when it failed.
bool load_directive(const Service_Directive& d) {
  if (ACE_Service_Config::process_directive(d.text.c_str()) == 0) return true;
  const std::string why = diagnose_directive(d.text);
  if (d.origin.empty()) {
    ACE_ERROR((LM_ERROR, "Service directive '%C': %C\n", d.text.c_str(), why.c_str()));
  } else {
    ACE_ERROR((LM_ERROR, "Service configuration %C: %C\n", d.origin.c_str(), why.c_str()));
  }
  return false;
}

// Loads `directives` in order, appending those that loaded to `loaded`;
// returns how many sources (files, -S directives) had a directive fail.
int load_directives(const std::vector<Service_Directive>& directives,
                    std::vector<Loaded_Directive>& loaded) {
  std::set<std::string> failed_files;
  int failed = 0;
  for (const Service_Directive& d : directives) {
    if (load_directive(d)) {
      loaded.push_back({d, named_files(d)});
    } else if (d.origin.empty() || failed_files.insert(d.origin).second) {
      ++failed;
    }
  }
  return failed;
}

// Takes the services of `entries` out of the repository, the last loaded
// first, without finalising them.
std::vector<ACE_Service_Type*> detach(const std::vector<Loaded_Directive>& entries) {
  std::vector<ACE_Service_Type*> detached;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    ACE_Service_Type* type = nullptr;
    const std::string& name = it->directive.name;
    if (!name.empty() && ACE_Service_Repository::instance()->remove(name.c_str(), &type) == 0 &&
        type != nullptr)
      detached.push_back(type);
  }
  return detached;
}

// Whether the running service of `was` can stay for the directive `now`;
// a Hosted_Service that stays is added to `prepared`.
bool keeps(const Loaded_Directive& was, const Service_Directive& now,
           std::vector<Hosted_Service*>& prepared) {
  if (was.directive.text != now.text || was.files != named_files(now)) return false;
  Hosted_Service* hosted = hosted_service(was.directive.name);
  if (hosted == nullptr) return true;
  if (hosted->prepare_reload() != Hosted_Service::KEEP) return false;
  prepared.push_back(hosted);
  return true;
}

}  // namespace

Service_Sources split_service_sources(int argc, char** argv, Service_Args& rest) {
  Service_Sources sources;
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    const bool has_next = i + 1 < argc;
    if (i > 0 && has_next && (word == "-f" || word == "-S")) {
      sources.push_back(
          {word == "-f" ? Service_Source::FILE : Service_Source::DIRECTIVE, argv[++i]});
    } else if (i > 0 && has_next && (word == "-k" || word == "-p" || word == "-s")) {
      rest.add(word);
      rest.add(argv[++i], true);
    } else {
      rest.add(word, i == 0);
    }
  }
  return sources;
}

int load_service_sources(const Service_Sources& sources) {
  int failed = 0;
  for (const Service_Source& source : sources) {
    std::vector<Service_Directive> directives;
    if (!read_directives(source, directives)) {
      ++failed;
      continue;
    }
    failed += load_directives(directives, g_loaded);
  }
  return failed;
}

std::vector<std::string> loaded_service_names() {
  std::vector<std::string> names;
  ACE_Service_Repository* repo = ACE_Service_Repository::instance();
  if (repo == nullptr) return names;
  ACE_Service_Repository_Iterator iter(*repo, false);
  for (const ACE_Service_Type* type = nullptr; iter.next(type) != 0; iter.advance()) {
    if (type != nullptr && type->name() != nullptr) names.push_back(type->name());
  }
  return names;
}

int reload_services(int argc, char** argv) {
  Service_Sources sources;
  open_service_config(argc, argv, true, [&](int c, char** v) {
    Service_Args rest;
    sources = split_service_sources(c, v, rest);
    return true;
  });
  std::vector<Service_Directive> wanted;
  int failed = 0;
  for (const Service_Source& source : sources) {
    if (!read_directives(source, wanted)) ++failed;
  }
  if (failed != 0) {
    ACE_ERROR((LM_ERROR,
               "Reload failed: %d service configuration(s) cannot be read; the services run on "
               "unchanged\n",
               failed));
    return failed;
  }

  // The unchanged beginning stays; the rest is replaced.
  std::vector<Hosted_Service*> prepared;
  size_t keep = 0;
  while (keep < g_loaded.size() && keep < wanted.size() &&
         keeps(g_loaded[keep], wanted[keep], prepared))
    ++keep;
  const std::vector<Loaded_Directive> replaced(g_loaded.begin() + keep, g_loaded.end());
  for (const Loaded_Directive& r : replaced) {
    if (!r.directive.name.empty())
      ACE_DEBUG((LM_INFO, "Replacing service %C\n", r.directive.name.c_str()));
  }
  std::vector<ACE_Service_Type*> old_services = detach(replaced);
  std::vector<Loaded_Directive> added;
  failed =
      load_directives(std::vector<Service_Directive>(wanted.begin() + keep, wanted.end()), added);
  if (failed != 0) {
    // Back to what ran: the new services go (finalised on the retirer's
    // thread, like the old ones after a good reload), the old ones return
    // in their order.
    service_retirer().retire(detach(added));
    for (auto it = old_services.rbegin(); it != old_services.rend(); ++it)
      ACE_Service_Repository::instance()->insert(*it);
    for (Hosted_Service* h : prepared) h->finish_reload(false);
    ACE_ERROR((LM_ERROR,
               "Reload failed: %d service configuration(s) failed to load; the services run on "
               "unchanged\n",
               failed));
    return failed;
  }
  for (Hosted_Service* h : prepared) h->finish_reload(true);
  g_loaded.resize(keep);
  g_loaded.insert(g_loaded.end(), added.begin(), added.end());
  const int old_count = static_cast<int>(old_services.size());
  service_retirer().retire(std::move(old_services));
  ACE_DEBUG((LM_INFO, "Reload done: %d service(s) kept, %d replaced by %d\n",
             static_cast<int>(keep), old_count, static_cast<int>(added.size())));
  return 0;
}

void services_stopping() {
  const std::vector<std::string> names = loaded_service_names();
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (Hosted_Service* h = hosted_service(*it)) h->stopping();
  }
  service_retirer().stopping();
}

bool open_configurator(int argc, char** argv, Service_Sources& sources) {
  Service_Args rest;
  sources = split_service_sources(argc, argv, rest);
  // ACE_DEFAULT_LOGGER_KEY is "localhost:20012" on this platform. Static
  // services are loaded; the default file is never read, the sources are
  // loaded by load_service_sources.
  return ACE_Service_Config::open(rest.argc(), rest.argv(), ACE_DEFAULT_LOGGER_KEY, false, true,
                                  true) == 0;
}
