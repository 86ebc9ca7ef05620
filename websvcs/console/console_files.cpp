// Reading the console's static files.
#include "websvcs/console/console_files.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace console {

namespace {

struct Dir_Closer {
  void operator()(DIR* d) const { ::closedir(d); }
};

bool read_file(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return false;
  out = ss.str();
  return true;
}

}  // namespace

const char* content_type_of(const std::string& name) {
  static const struct {
    const char* ext;
    const char* type;
  } TYPES[] = {{".html", "text/html; charset=utf-8"},
               {".css", "text/css; charset=utf-8"},
               {".js", "text/javascript; charset=utf-8"},
               {".svg", "image/svg+xml"},
               {".ico", "image/x-icon"},
               {".png", "image/png"},
               {".txt", "text/plain; charset=utf-8"}};
  for (const auto& t : TYPES) {
    const std::string ext(t.ext);
    if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
      return t.type;
  }
  return nullptr;
}

bool Console_Files::load(const std::string& dir, std::string& error) {
  files_.clear();
  std::unique_ptr<DIR, Dir_Closer> d(::opendir(dir.c_str()));
  if (!d) {
    error = "cannot list the console folder " + dir;
    return false;
  }
  std::map<std::string, Static_File> files;
  while (const dirent* e = ::readdir(d.get())) {
    const std::string name = e->d_name;
    const char* type = content_type_of(name);
    if (name.empty() || name[0] == '.' || type == nullptr) continue;
    const std::string path = dir + "/" + name;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    Static_File f;
    f.content_type = type;
    if (!read_file(path, f.body)) {
      error = "cannot read " + path;
      return false;
    }
    files.emplace(name, std::move(f));
  }
  if (files.find("index.html") == files.end()) {
    error = "no index.html in the console folder " + dir;
    return false;
  }
  files_.swap(files);
  return true;
}

const Static_File* Console_Files::find(const std::string& name) const {
  if (name.empty() || name[0] == '.' || name.find('/') != std::string::npos) return nullptr;
  const auto it = files_.find(name);
  return it == files_.end() ? nullptr : &it->second;
}

std::string default_console_dir() {
  Dl_info info;
  if (::dladdr(reinterpret_cast<void*>(&default_console_dir), &info) == 0 ||
      info.dli_fname == nullptr)
    return "share/console";
  std::string self = info.dli_fname;
  const std::size_t slash = self.rfind('/');
  const std::string lib_dir = slash == std::string::npos ? "." : self.substr(0, slash);
  return lib_dir + "/../share/console";
}

}  // namespace console
