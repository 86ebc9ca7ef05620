// Builds a configuration path from a template, expanding environment
// references ("$COMPONENT") and optionally creating the directory.
//
//   std::string p = Path_Conf("/etc/opt/quillon/kestrel3/$COMPONENT/x.conf",
//                             false, nullptr, 0750).str();
//
// A Path_Conf is a plain value; it is not shared between threads.
#ifndef RUNTIME_PATH_CONF_H
#define RUNTIME_PATH_CONF_H

#include <string>
#include <sys/types.h>

class Path_Conf {
 public:
  // Expands `prefix`; when `create` is true makes the expanded prefix (the
  // whole of it) a directory with permission `mode`, logging a failure other
  // than EEXIST and going on; then appends "/" + `basename` when `basename`
  // is neither null nor "". A null or "" prefix (logged LM_EMERGENCY) or a
  // failed expansion (logged LM_ERROR) leaves the path empty.
  Path_Conf(const char* prefix, bool create = false, const char* basename = nullptr,
            mode_t mode = 0750);

  // As above with `prefix` + "/" + `sub` (just `prefix` when `sub` is null
  // or "") as the prefix. A null or "" prefix leaves the path empty.
  Path_Conf(const char* prefix, const char* sub, bool create,
            const char* basename = nullptr, mode_t mode = 0750);

  // Appends "/" + `sub` when `sub` is neither null nor "". Chains.
  Path_Conf& append(const char* sub);
  Path_Conf& append(const std::string& sub) { return append(sub.c_str()); }

  // Replaces every occurrence of `name` in the path by `value`, left to
  // right, non-overlapping. Chains.
  Path_Conf& fix(const std::string& name, const std::string& value);

  std::string& str() & { return prefix_; }
  const std::string& str() const& { return prefix_; }
  std::string str() && { return std::move(prefix_); }

 private:
  void init(const char* prefix, bool create, const char* basename, mode_t mode);

  std::string prefix_;
};

#endif
