// Configuration path builder.
#include "runtime/path_conf.h"

#include <cerrno>
#include <memory>

#include <boost/algorithm/string/replace.hpp>

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/OS_Memory.h>
#include <ace/OS_NS_stdlib.h>

#include "runtime/environ.h"
#include "runtime/mkdir_p.h"

namespace {

struct Malloc_Deleter {
  void operator()(char* p) const { ACE_OS::free(p); }
};

// `prefix` with its environment references expanded, or null with errno.
// The environment is read under the shared environment lock.
char* expand(const char* prefix) {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(env_mutex());
  errno = 0;
  char* expanded = ACE_OS::strenvdup(prefix);
  if (expanded == nullptr && errno == 0) errno = ENOMEM;
  return expanded;
}

}  // namespace

Path_Conf::Path_Conf(const char* prefix, bool create, const char* basename, mode_t mode) {
  init(prefix, create, basename, mode);
}

Path_Conf::Path_Conf(const char* prefix, const char* sub, bool create, const char* basename,
                     mode_t mode) {
  if (prefix == nullptr || *prefix == '\0') {
    ACE_ERROR((LM_EMERGENCY, "Unexpected error in %N:%l, prefix is NULL or \"\":\n%?\n"));
    return;
  }
  std::string joined(prefix);
  if (sub != nullptr && *sub != '\0') {
    joined += '/';
    joined += sub;
  }
  init(joined.c_str(), create, basename, mode);
}

void Path_Conf::init(const char* prefix, bool create, const char* basename, mode_t mode) {
  if (prefix == nullptr || *prefix == '\0') {
    ACE_ERROR((LM_EMERGENCY, "Unexpected error in %N:%l, prefix is NULL or \"\":\n%?\n"));
    return;
  }
  std::unique_ptr<char, Malloc_Deleter> expanded(expand(prefix));
  if (!expanded) {
    ACE_ERROR((LM_ERROR, "Failed to strenvdup '%s', errno=%d, %m\n", prefix, errno));
    return;
  }
  if (create && mkdir_p(expanded.get(), mode) != 0 && errno != EEXIST) {
    ACE_ERROR((LM_ERROR, "Failed to mkdir %s, errno=%d, %m\n", expanded.get(), errno));
  }
  prefix_ += expanded.get();
  if (basename != nullptr && *basename != '\0') {
    prefix_ += '/';
    prefix_ += basename;
  }
}

Path_Conf& Path_Conf::append(const char* sub) {
  if (sub != nullptr && *sub != '\0') {
    prefix_ += '/';
    prefix_ += sub;
  }
  return *this;
}

Path_Conf& Path_Conf::fix(const std::string& name, const std::string& value) {
  if (!name.empty()) boost::algorithm::replace_all(prefix_, name, value);
  return *this;
}
