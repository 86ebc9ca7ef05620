#include "starter/signal_handlers.h"

#include <ace/ACE.h>
#include <ace/Log_Msg.h>
#include <ace/Reactor.h>
#include <ace/Service_Config.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <semaphore.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "starter/service_reloader.h"

namespace starter {

volatile std::sig_atomic_t finished = 0;
int tried_throw = 0;
pthread_getname_np_t pthread_getname = nullptr;

}  // namespace starter

namespace {

const char UNKNOWN_THREAD[] = "unknown";

// What a signal handler hands to the relay thread. Smaller than PIPE_BUF,
// so each write is atomic.
struct Signal_Record {
  int sig;  // 0 asks the relay thread to stop
  char thread_name[16];
};

const int RELAYED[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGUSR2};
const int FATAL[] = {SIGILL, SIGSEGV, SIGFPE, SIGALRM, SIGXCPU, SIGBUS, SIGABRT};
const int IGNORED[] = {SIGPIPE, SIGIO, SIGURG};

// Write end of the relay pipe (non-blocking), read by signal handlers; -1
// when no relay runs.
volatile std::sig_atomic_t g_relay_fd = -1;
// The process whose relay thread reads the pipe. A handler in another
// process (a copy forked by daemonising, whose descriptors were closed and
// whose numbers may now name other files) writes nothing.
volatile std::sig_atomic_t g_relay_owner = -1;
// Signals whose record did not fit in a full pipe, by number: the relay
// thread acts on each once more after its next read.
volatile std::sig_atomic_t g_overflow[NSIG];
int g_read_fd = -1;
pthread_t g_relay_thread;
bool g_relay_running = false;
pid_t g_relay_pid = -1;  // the process that started the relay thread
// Posted by the relay thread once it has started and is about to wait for
// its first record.
sem_t g_relay_started;

int install(int sig, void (*handler)(int)) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  return ::sigaction(sig, &sa, nullptr);
}

// Async-signal-safe and never blocking: copies the thread name and writes
// one record; when the pipe is full the signal is marked in g_overflow
// instead (the relay thread is then busy and reads again soon).
void relay_signal(int sig) {
  const int saved_errno = errno;
  const int fd = g_relay_fd;
  if (fd >= 0 && g_relay_owner == ::getpid()) {
    Signal_Record record;
    std::memset(&record, 0, sizeof record);
    record.sig = sig;
    get_thread_name(record.thread_name);
    ssize_t n;
    do {
      n = ::write(fd, &record, sizeof record);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && sig > 0 && sig < NSIG) g_overflow[sig] = 1;
  }
  errno = saved_errno;
}

void dispatch(const Signal_Record& record) {
  switch (record.sig) {
    case SIGINT:
    case SIGQUIT:
    case SIGTERM:
      sig_terminate(record.sig, record.thread_name);
      break;
    case SIGHUP:
      sig_reconfig(record.sig);
      break;
    case SIGUSR2:
      sig_usr2(record.sig);
      break;
    default:
      break;
  }
}

void* relay_main(void*) {
  ::sem_post(&g_relay_started);
  Signal_Record record;
  for (;;) {
    const ssize_t n = ::read(g_read_fd, &record, sizeof record);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof record) || record.sig == 0) break;
    record.thread_name[sizeof record.thread_name - 1] = '\0';
    dispatch(record);
    for (int sig : RELAYED) {
      if (g_overflow[sig] == 0) continue;
      g_overflow[sig] = 0;
      Signal_Record missed;
      std::memset(&missed, 0, sizeof missed);
      missed.sig = sig;
      std::memcpy(missed.thread_name, UNKNOWN_THREAD, sizeof UNKNOWN_THREAD);
      dispatch(missed);
    }
  }
  return nullptr;
}

// Starts the relay thread with the relayed signals blocked, so that the
// kernel delivers them to the other threads and the thread names in the
// messages are those of the threads doing the host's work.
int start_relay() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  // Only the handlers' end: a handler must never wait for room.
  if (::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK) != 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return -1;
  }

  sigset_t relayed, previous;
  sigemptyset(&relayed);
  for (int sig : RELAYED) sigaddset(&relayed, sig);
  ::pthread_sigmask(SIG_BLOCK, &relayed, &previous);
  g_read_fd = fds[0];
  ::sem_init(&g_relay_started, 0, 0);
  const int rc = ::pthread_create(&g_relay_thread, nullptr, relay_main, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (rc != 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    g_read_fd = -1;
    errno = rc;
    return -1;
  }
  // The configurator's -b forks right after this, with the relay thread
  // alive. A thread still starting may hold locks of the allocator (or of a
  // sanitizer's runtime) that the forked copy would then wait for forever;
  // waiting until it runs its own code leaves it idle in read() at the fork.
  while (::sem_wait(&g_relay_started) != 0 && errno == EINTR) {
  }
  ::pthread_setname_np(g_relay_thread, "signal-relay");
  g_relay_running = true;
  g_relay_pid = ::getpid();
  g_relay_owner = g_relay_pid;
  g_relay_fd = fds[1];
  return 0;
}

}  // namespace

void get_thread_name(char* buf) {
  std::memcpy(buf, UNKNOWN_THREAD, sizeof UNKNOWN_THREAD);
  if (starter::pthread_getname != nullptr) {
    if (starter::pthread_getname(::pthread_self(), buf, 16) != 0) {
      std::memcpy(buf, UNKNOWN_THREAD, sizeof UNKNOWN_THREAD);
    }
    buf[15] = '\0';
  }
}

int init_signal_handlers() {
  starter::pthread_getname =
      reinterpret_cast<starter::pthread_getname_np_t>(::dlsym(RTLD_DEFAULT, "pthread_getname_np"));

  int result = 0;
  if (!g_relay_running && start_relay() != 0) {
    ACE_ERROR((LM_ERROR, "Failed to start the signal relay thread, errno=%d, %m\n", errno));
    result = -1;
  }
  if (g_relay_running) {
    for (int sig : {SIGINT, SIGQUIT, SIGTERM}) install(sig, relay_signal);
  }
  for (int sig : FATAL) install(sig, sig_abnormal_terminate);
  if (g_relay_running) {
    install(SIGHUP, relay_signal);
    install(SIGUSR2, relay_signal);
  }
  for (int sig : IGNORED) install(sig, SIG_IGN);
  return result;
}

void refresh_signal_handlers() {
  if (g_relay_running && g_relay_pid != ::getpid()) {
    // A forked copy: the thread is gone and daemonising closed the pipe
    // (its descriptor numbers may already name other files, so they are
    // left alone).
    g_relay_fd = -1;
    g_read_fd = -1;
    g_relay_running = false;
    if (start_relay() != 0) {
      ACE_ERROR((LM_ERROR, "Failed to start the signal relay thread, errno=%d, %m\n", errno));
      for (int sig : RELAYED) install(sig, SIG_DFL);
      return;
    }
    for (int sig : RELAYED) install(sig, relay_signal);
    return;
  }
  if (g_relay_running) install(SIGHUP, relay_signal);
}

void stop_signal_handlers() {
  if (!g_relay_running) return;
  const int fd = g_relay_fd;
  g_relay_fd = -1;  // handlers from now on do nothing
  Signal_Record stop;
  std::memset(&stop, 0, sizeof stop);
  ssize_t n;
  do {
    n = ::write(fd, &stop, sizeof stop);
  } while (n < 0 && errno == EINTR);
  ::pthread_join(g_relay_thread, nullptr);
  g_relay_running = false;
  ::close(fd);
  ::close(g_read_fd);
  g_read_fd = -1;
}

void sig_terminate(int sig, const char* thread_name) {
  ACE_DEBUG((LM_INFO, "Signal %d (%s) caught in [%s].\n", sig, ::strsignal(sig), thread_name));
  // From now on a reload is refused; one in progress is waited for by main.
  service_reloader().begin_shutdown();
  ACE_Reactor* reactor = ACE_Reactor::instance();
  if (starter::finished == 0 && reactor != nullptr && !reactor->reactor_event_loop_done()) {
    starter::finished = 1;
    reactor->end_reactor_event_loop();
  }
}

void sig_reconfig(int sig) {
  // Only recorded here: the reload thread does the work, so that the relay
  // stays free for a termination signal.
  service_reloader().request(sig);
}

void sig_usr2(int) {
  const bool on = ACE::debug();
  ACE_DEBUG((LM_INFO, "%s ACE::debug.\n", on ? "Disable" : "Enable"));
  ACE::debug(!on);
}

void sig_abnormal_terminate(int sig) {
  char name[16];
  get_thread_name(name);
  ACE_DEBUG((LM_ALERT, "Signal %d (%s) caught in [%s], the back trace:\n%?.\n", sig,
             ::strsignal(sig), name));
  // End by the signal itself: an exit status of 0 would tell the service
  // manager that the host stopped as asked.
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  ::sigaction(sig, &sa, nullptr);
  ::raise(sig);
  // Blocked until this handler returns; the signal is then delivered with
  // its default action. For a fault the instruction faults again.
}

void handle_terminate() {
  if (starter::tried_throw++ == 0) {
    try {
      throw;
    } catch (const std::exception& e) {
      ACE_DEBUG((LM_EMERGENCY, "Unhandled exception is caught, %s\n%?.\n", e.what()));
    } catch (...) {
      ACE_DEBUG((LM_EMERGENCY, "Unknown/unhandled exception is caught: \n%?.\n"));
    }
  }
  std::abort();
}
