#include "starter/service_loader.h"

#include <ace/Log_Msg.h>
#include <ace/Service_Config.h>
#include <ace/Service_Object.h>
#include <ace/Service_Repository.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace {

// Services present before any source was loaded (static ones of the
// configurator); a reload leaves them alone.
std::set<std::string> g_base_services;

bool is_service_loaded(const std::string& name) {
  const std::vector<std::string> names = loaded_service_names();
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Why the "dynamic NAME ... LIBRARY:FACTORY(...)" directive in `line` left
// no service behind; empty when the line is no such directive or its
// service is loaded.
std::string diagnose_directive(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w && w[0] != '"';) words.push_back(w);
  if (words.size() < 3 || words[0] != "dynamic") return "";
  const std::string& name = words[1];
  if (is_service_loaded(name)) return "";

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
    return "service " + name + ": library " + library + " does not load: " +
           (why != nullptr ? why : "unknown error");
  }
  const bool has_factory = ::dlsym(handle, factory.c_str()) != nullptr;
  ::dlclose(handle);
  if (!has_factory) {
    return "service " + name + ": factory " + factory + " not found in " + library;
  }
  return "service " + name + ": its factory returned no object or its init failed";
}

// Logs the reason for each service of `file` that is missing.
void diagnose_file(const std::string& file) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    const std::string why = diagnose_directive(line);
    if (!why.empty()) {
      ACE_ERROR((LM_ERROR, "Service configuration %C: %C\n", file.c_str(), why.c_str()));
    }
  }
}

// Loads one file; true when every directive in it succeeded.
bool load_file(const std::string& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to read service configuration %C, errno=%d, %m\n",
               file.c_str(), errno));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    // add_config_files hands on a directory it could not open.
    ACE_ERROR((LM_ERROR, "Failed to read service configuration directory %C\n", file.c_str()));
    return false;
  }
  const int rc = ACE_Service_Config::process_file(file.c_str());
  if (rc < 0) {
    ACE_ERROR((LM_ERROR, "Failed to read service configuration %C, errno=%d, %m\n",
               file.c_str(), errno));
    return false;
  }
  if (rc > 0) {
    ACE_ERROR((LM_ERROR, "Service configuration %C: %d directive(s) failed\n", file.c_str(), rc));
    diagnose_file(file);
    return false;
  }
  return true;
}

bool load_directive(const std::string& directive) {
  const int rc = ACE_Service_Config::process_directive(directive.c_str());
  if (rc == 0) return true;
  std::string why = diagnose_directive(directive);
  if (why.empty()) why = "it failed";
  ACE_ERROR((LM_ERROR, "Service directive '%C': %C\n", directive.c_str(), why.c_str()));
  return false;
}

}  // namespace

Service_Sources split_service_sources(int argc, char** argv, Service_Args& rest) {
  Service_Sources sources;
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    const bool has_next = i + 1 < argc;
    if (i > 0 && has_next && (word == "-f" || word == "-S")) {
      sources.push_back({word == "-f" ? Service_Source::FILE : Service_Source::DIRECTIVE,
                         argv[++i]});
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
    const bool ok = source.kind == Service_Source::FILE ? load_file(source.text)
                                                        : load_directive(source.text);
    if (!ok) ++failed;
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

int remove_all_services() {
  const std::vector<std::string> names = loaded_service_names();
  int removed = 0;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (g_base_services.count(*it) != 0) continue;
    ACE_DEBUG((LM_INFO, "Removing service %C\n", it->c_str()));
    if (ACE_Service_Config::remove(it->c_str()) == 0) ++removed;
  }
  return removed;
}

int reload_services(int argc, char** argv) {
  const int removed = remove_all_services();
  Service_Sources sources;
  open_service_config(argc, argv, true, [&](int c, char** v) {
    Service_Args rest;
    sources = split_service_sources(c, v, rest);
    return true;
  });
  const int failed = load_service_sources(sources);
  if (failed != 0) {
    ACE_ERROR((LM_ERROR,
               "Reload: %d service configuration(s) failed to load; the services that loaded "
               "run\n",
               failed));
  } else {
    ACE_DEBUG((LM_INFO, "Reload done: %d service(s) replaced by %d\n", removed,
               static_cast<int>(loaded_service_names().size() - g_base_services.size())));
  }
  return failed;
}

bool open_configurator(int argc, char** argv, Service_Sources& sources) {
  Service_Args rest;
  sources = split_service_sources(argc, argv, rest);
  // ACE_DEFAULT_LOGGER_KEY is "localhost:20012" on this platform. Static
  // services are loaded; the default file is never read, the sources are
  // loaded by load_service_sources.
  const bool opened =
      ACE_Service_Config::open(rest.argc(), rest.argv(), ACE_DEFAULT_LOGGER_KEY, false, true,
                               true) == 0;
  const std::vector<std::string> base = loaded_service_names();
  g_base_services.insert(base.begin(), base.end());
  return opened;
}
