#include "starter/system_info.h"

#include <ace/ACE.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_unistd.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/compat_open.h"
#include "runtime/environ.h"
#include "runtime/natoi.h"
#include "runtime/sysconf_helper.h"

// Fixed when the program is built (see starter/CMakeLists.txt).
#ifndef STARTER_VERSION
#define STARTER_VERSION "0.0.0-0"
#endif
#ifndef STARTER_REVISION
#define STARTER_REVISION "unknown"
#endif

std::int16_t get_vm_swappiness(const char* path) {
  const int fd = open_cloexec(path, O_RDONLY);
  if (fd < 0) return -1;

  std::int16_t value = -1;
  int read_errno = 0;
  char text[4];
  const ssize_t n = ::read(fd, text, 3);
  if (n < 0) {
    read_errno = errno;
  } else if (n > 0) {
    text[n] = '\0';
    value = natoi<short, char*>(text);
  }
  ::close(fd);
  if (read_errno != 0) errno = read_errno;
  return value;
}

void log_system_info(const char* swappiness_path) {
  const std::int16_t swappiness = get_vm_swappiness(swappiness_path);
  if (swappiness < 0) {
    ACE_ERROR((LM_ERROR, "Failed to get vm swappiness from /proc/sys/vm/swappiness, errno=%d, %m\n",
               errno));
  }

  struct utsname uts;
  if (::uname(&uts) != 0) return;
  const ACE_UINT64 memory_gib = (get_system_memory() + (ACE_UINT64(1) << 29)) >> 30;
  // One literal, so the text can be found as it appears in the log.
  // clang-format off
  ACE_DEBUG((LM_INFO,
             "system info: sysname=%s, nodename=%s, release=%s, version=%s, machine=%s, processors=%d, memory=%QG, nofile=%d, swappiness=%d\n",
             uts.sysname, uts.nodename, uts.release, uts.version, uts.machine,
             static_cast<int>(ACE_OS::num_processors()), memory_gib, ACE::max_handles(),
             static_cast<int>(swappiness)));
  // clang-format on
}

void log_product_info() {
  const std::string component = get_env_r("COMPONENT");
  if (component.empty()) {
    ACE_DEBUG((LM_INFO, "kestrel3 " STARTER_VERSION " (rev " STARTER_REVISION ") is started.\n"));
  } else {
    ACE_DEBUG((LM_INFO, "kestrel3-%C " STARTER_VERSION " (rev " STARTER_REVISION ") is started.\n",
               component.c_str()));
  }
}

const char* product_version() { return STARTER_VERSION; }

const char* product_revision() { return STARTER_REVISION; }
