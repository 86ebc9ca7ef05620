#include "starter/systemd_handler.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_unistd.h>
#include <ace/Reactor.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <limits>
#include <mutex>
#include <string>

#include "runtime/environ.h"
#include "runtime/natoi.h"

namespace {

typedef int (*sd_booted_t)();
typedef int (*sd_notify_t)(int unset_environment, const char* state);
typedef int (*sd_watchdog_enabled_t)(int unset_environment, std::uint64_t* usec);

const std::uint64_t MIN_INTERVAL_USEC = 3000000;
const std::uint64_t MAX_INTERVAL_SECONDS = std::numeric_limits<std::uint64_t>::max() / 1000000;

// dlsym of a function, converted to its type.
template <typename F>
F find_function(void* handle, const char* name) {
  return reinterpret_cast<F>(::dlsym(handle, name));
}

// The sd_notify of the open handler (null while none is open), for
// notifications sent outside the reactor (reloads).
std::mutex g_notify_lock;
sd_notify_t g_notify = nullptr;  // guarded by g_notify_lock

const char* dl_error_text() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "unknown error";
}

}  // namespace

std::uint64_t notify_interval_usec(std::uint64_t usec, const char* interval_text) {
  std::uint64_t seconds = 0;
  if (interval_text != nullptr && *interval_text != '\0') {
    seconds = natoi<unsigned long, const char*>(interval_text);
  }
  // Clamped so that a huge setting cannot wrap around to a short interval.
  if (seconds != 0) return std::min(seconds, MAX_INTERVAL_SECONDS) * 1000000;
  // A third of the timeout leaves room for two late ticks. The 3-second
  // floor keeps the timer cheap, but it must stay below the timeout itself
  // or systemd would kill the service between two notifications.
  return std::max(usec / 3, std::min(MIN_INTERVAL_USEC, usec / 2));
}

bool notify_systemd(const std::string& state) {
  std::lock_guard<std::mutex> guard(g_notify_lock);
  if (g_notify == nullptr) return false;
  g_notify(0, state.c_str());
  return true;
}

void notify_reload_begins() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const unsigned long long usec =
      static_cast<unsigned long long>(now.tv_sec) * 1000000ULL + now.tv_nsec / 1000;
  notify_systemd("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(usec) + "\n");
}

void notify_reload_ended(bool succeeded) {
  notify_systemd(succeeded ? "READY=1\nSTATUS=Reload succeeded\n"
                           : "READY=1\nSTATUS=Reload failed; the services run on unchanged\n");
}

Systemd_Handler::Systemd_Handler() = default;

Systemd_Handler::~Systemd_Handler() { close(); }

int Systemd_Handler::open(ACE_Reactor* reactor) {
  if (reactor == nullptr) {
    ACE_ERROR_RETURN((LM_EMERGENCY, "Unexpected error in %N:%l, r is NULL:\n%?\n"), -1);
  }
  if (open_i(reactor) != 0) {
    close();
    return -1;
  }
  return 0;
}

int Systemd_Handler::close() {
  {
    std::lock_guard<std::mutex> guard(g_notify_lock);
    if (handle_ != nullptr) g_notify = nullptr;
  }
  ACE_Reactor* reactor = this->reactor();
  if (reactor != nullptr) {
    this->reactor(nullptr);
    if (notify_timer_id_ != -1) reactor->cancel_timer(notify_timer_id_, nullptr, 1);
    notify_timer_id_ = -1;
  }
  if (handle_ != nullptr) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
  return 0;
}

int Systemd_Handler::handle_timeout(const ACE_Time_Value&, const void* act) {
  if (handle_ != nullptr && act != nullptr) {
    sd_notify_t notify = reinterpret_cast<sd_notify_t>(const_cast<void*>(act));
    notify(0, "WATCHDOG=1\n");
  }
  return 0;
}

int Systemd_Handler::open_i(ACE_Reactor* reactor) {
  // 1. The client library.
  std::string library;
  if (handle_ == nullptr) {
    const std::string name = get_env_r("LIBSYSTEMD_FILENAME");
    if (name.empty()) {
      library = "libsystemd.so.0";
      handle_ = ::dlopen(library.c_str(), RTLD_LAZY);
      if (handle_ == nullptr) {
        ACE_ERROR((LM_WARNING, "Unable to load libsystemd.so.0, %s\n", dl_error_text()));
        library = "libsystemd-daemon.so.0";
        handle_ = ::dlopen(library.c_str(), RTLD_LAZY);
        if (handle_ == nullptr) {
          ACE_ERROR_RETURN(
              (LM_WARNING, "Unable to load libsystemd-daemon.so.0, %s\n", dl_error_text()), -1);
        }
      }
    } else if (name == "0") {
      return -1;  // notification switched off
    } else {
      library = name;
      handle_ = ::dlopen(library.c_str(), RTLD_LAZY);
      if (handle_ == nullptr) {
        ACE_ERROR_RETURN((LM_WARNING, "Unable to load %s, %s\n", library.c_str(), dl_error_text()),
                         -1);
      }
    }
  }

  // 2. Its functions.
  const sd_booted_t booted = find_function<sd_booted_t>(handle_, "sd_booted");
  if (booted == nullptr) {
    ACE_ERROR_RETURN((LM_ERROR, "Not found symbol sd_booted in %s!\n", library.c_str()), -1);
  }
  const sd_notify_t notify = find_function<sd_notify_t>(handle_, "sd_notify");
  if (notify == nullptr) {
    ACE_ERROR_RETURN((LM_ERROR, "Not found symbol sd_notify in %s!\n", library.c_str()), -1);
  }
  const sd_watchdog_enabled_t watchdog_enabled =
      find_function<sd_watchdog_enabled_t>(handle_, "sd_watchdog_enabled");
  if (watchdog_enabled == nullptr) {
    ACE_ERROR((LM_WARNING, "Not found symbol sd_watchdog_enabled in %s!\n", library.c_str()));
  }

  // 3. Only under systemd.
  if (booted() <= 0) return -1;

  // 4. The watchdog timeout.
  std::uint64_t usec = 0;
  if (watchdog_enabled != nullptr) {
    if (watchdog_enabled(0, &usec) <= 0) {
      ACE_ERROR_RETURN((LM_WARNING, "systemd watchdog is not enabled.\n"), -1);
    }
  } else {
    const std::string usec_text = get_env_r("WATCHDOG_USEC");
    if (usec_text.empty()) {
      ACE_ERROR_RETURN((LM_WARNING, "systemd watchdog is not enabled, WATCHDOG_USEC is unset.\n"),
                       -1);
    }
    usec = natoi<unsigned long, const char*>(usec_text.c_str());
    if (usec == 0) {
      ACE_ERROR_RETURN(
          (LM_WARNING, "systemd watchdog is not enabled, WATCHDOG_USEC=%s.\n", usec_text.c_str()),
          -1);
    }
    const std::string pid_text = get_env_r("WATCHDOG_PID");
    if (!pid_text.empty() && natoi<int, const char*>(pid_text.c_str()) != ACE_OS::getpid()) {
      ACE_ERROR_RETURN(
          (LM_WARNING, "systemd watchdog is not enabled, WATCHDOG_PID=%s.\n", pid_text.c_str()),
          -1);
    }
  }

  // 5. Attach.
  this->reactor(reactor);

  // 6. The interval.
  const std::string interval_text = get_env_r("SD_NOTIFY_INTERVAL");
  const std::uint64_t interval_usec = notify_interval_usec(usec, interval_text.c_str());
  ACE_Time_Value interval;
  interval.set(static_cast<time_t>(interval_usec / 1000000),
               static_cast<suseconds_t>(interval_usec % 1000000));

  // 7. The repeating timer, carrying sd_notify as its argument.
  notify_timer_id_ =
      reactor->schedule_timer(this, reinterpret_cast<const void*>(notify), interval, interval);
  if (notify_timer_id_ == -1) {
    ACE_ERROR_RETURN((LM_ERROR, "Failed to schedule systemd notify timer, errno=%d, %m\n", errno),
                     -1);
  }

  // 8. Tell the journal directly, and the log.
  const unsigned long interval_ms = static_cast<unsigned long>(interval_usec / 1000);
  std::fprintf(stderr, "<6>Notify systemd every %lu ms.\n", interval_ms);
  std::fflush(stderr);
  ACE_DEBUG((LM_DEBUG, "Notify systemd every %Q ms.\n", static_cast<ACE_UINT64>(interval_ms)));

  // 9. Ready, and a first watchdog tick.
  notify(0, "READY=1\n");
  notify(0, "WATCHDOG=1\n");
  std::lock_guard<std::mutex> guard(g_notify_lock);
  g_notify = notify;
  return 0;
}
