#include "starter/open_service_config.h"

#include <cstring>
#include <set>

#include "runtime/inline_util.h"

void add_config_files(Service_Args& args, const char* path) {
  ACE_Dirent dir;
  if (path == nullptr || dir.open(path) == -1) {
    args.add("-f");
    args.add(path != nullptr ? path : "", true);
    return;
  }

  std::set<std::string> svc_cfgs;  // byte order, no duplicates
  for (ACE_DIRENT* entry; (entry = dir.read()) != nullptr;) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!is_file_extension(name, "conf")) continue;
    std::string full = path;
    full += '/';
    full += name;
    if (is_regular_file(full.c_str())) svc_cfgs.insert(full);
  }
  dir.close();

  for (const std::string& file : svc_cfgs) {
    args.add("-f");
    args.add(file, true);
  }
}
