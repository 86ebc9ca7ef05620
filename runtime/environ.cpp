// Thread-safe environment accessors.
#include "runtime/environ.h"

#include <cerrno>

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_stdlib.h>

#include "runtime/snprintf_t.h"

ACE_RW_Thread_Mutex& env_mutex() {
  // Constructed on first use and destroyed at exit; every copy of this
  // library in the process binds to the program's definition.
  static ACE_RW_Thread_Mutex mutex;
  return mutex;
}

ACE_RW_Thread_Mutex& g_env_mutex = env_mutex();

namespace {

bool valid_name(const char* name) {
  if (name != nullptr && *name != '\0') return true;
  ACE_ERROR((LM_EMERGENCY, "Unexpected error in %N:%l, name is NULL or \"\":\n%?\n"));
  return false;
}

// Joins `old` and `val` with ":" in the order `val_first` says, then sets
// the result. The caller holds the lock exclusively.
bool join_env_i(const char* name, const char* val, bool val_first) {
  if (val == nullptr) return set_env_i(name, nullptr);
  const char* old = ACE_OS::getenv(name);
  if (old == nullptr || *old == '\0') return set_env_i(name, val);
  snprintf_t<4096> joined;
  const int n = val_first ? joined.set("%s:%s", val, old) : joined.set("%s:%s", old, val);
  if (n < 0) {
    errno = ENOMEM;
    return false;
  }
  return set_env_i(name, joined.c_str());
}

}  // namespace

bool set_env_i(const char* name, const char* val) {
  if (name == nullptr || *name == '\0') {
    errno = EINVAL;
    return false;
  }
  if (val == nullptr) return ACE_OS::unsetenv(name) == 0;
  return ACE_OS::setenv(name, val, 1) == 0;
}

std::string get_env_r(const char* name) {
  if (!valid_name(name)) return std::string();
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(env_mutex());
  if (!guard.locked()) return std::string();
  const char* value = ACE_OS::getenv(name);
  return value ? std::string(value) : std::string();
}

bool set_env(const char* name, const char* val) {
  if (!valid_name(name)) return false;
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(env_mutex());
  if (!guard.locked()) return false;
  return set_env_i(name, val);
}

bool append_env(const char* name, const char* val) {
  if (!valid_name(name)) return false;
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(env_mutex());
  if (!guard.locked()) return false;
  return join_env_i(name, val, false);
}

bool prepend_env(const char* name, const char* val) {
  if (!valid_name(name)) return false;
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(env_mutex());
  if (!guard.locked()) return false;
  return join_env_i(name, val, true);
}
