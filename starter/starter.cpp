// starter: a generic host process for service objects.
//
// It reads its command line, optionally detaches, switches user and groups,
// creates the process reactor, loads the service objects named in its
// service configuration files, handles signals, notifies systemd and runs
// the reactor event loop in one or more threads until a termination signal
// ends the loop. Then it finalises the services and returns 0. When a
// service configuration it was given fails to load, it returns 1 instead,
// without telling systemd that it is ready.
//
// The program is linked with its symbols exported (-rdynamic) so that the
// service libraries it loads resolve against the ACE, runtime and standard
// library code it carries, and so that stack traces name functions.

#include <malloc.h>

#include <ace/Log_Msg.h>
#include <ace/OS_NS_unistd.h>
#include <ace/Reactor.h>
#include <ace/Service_Config.h>
#include <ace/Thread_Manager.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "starter/host_options.h"
#include "starter/log_sink.h"
#include "starter/new_event_handler.h"
#include "starter/open_service_config.h"
#include "starter/service_loader.h"
#include "starter/service_reloader.h"
#include "starter/service_retirer.h"
#include "starter/signal_handlers.h"
#include "starter/system_info.h"
#include "starter/systemd_handler.h"

// Instantiations the loaded service libraries may resolve against the
// program's dynamic symbol table.
template const unsigned long& std::max<unsigned long>(const unsigned long&, const unsigned long&);
template const long& std::max<long>(const long&, const long&);
template void std::swap<std::less<std::string>>(std::less<std::string>&, std::less<std::string>&);
template void std::swap<unsigned long>(unsigned long&, unsigned long&);

namespace {

// How long a stop waits for services a reload replaced; below the systemd
// unit's TimeoutStopSec (600 s).
const std::chrono::seconds STOP_LIMIT(540);

// Makes the program carry the string ordering code (exported to the
// libraries it loads).
void init_stl_symbols() {
  const std::string foo("foo");
  const std::string bar("bar");
  volatile bool less = std::less<std::string>()(foo, bar);
  (void)less;
}

// Event-loop thread body: the calling thread becomes the reactor's owner
// and runs the event loop until it ends.
ACE_THR_FUNC_RETURN event_loop(void* arg) {
  ACE_Reactor* reactor = static_cast<ACE_Reactor*>(arg);
  reactor->owner(ACE_Thread::self());
  reactor->run_reactor_event_loop();
  return 0;
}

void run_in_main_thread(ACE_Reactor* reactor) {
  reactor->owner(ACE_Thread::self());
  while (!reactor->reactor_event_loop_done()) reactor->run_reactor_event_loop();
}

void run_event_loops(std::uint64_t threads) {
  ACE_Reactor* reactor = ACE_Reactor::instance();
  if (threads < 2) {
    run_in_main_thread(reactor);
    return;
  }
  // The loop threads form one group of their own, so that only they are
  // waited for: services may run threads of their own in the same manager,
  // which end when the services are finalised. Spawned one at a time (with
  // spawn_n's default flags and priority) so that the group is known also
  // when spawning stops early.
  ACE_Thread_Manager* manager = ACE_Thread_Manager::instance();
  const long flags = THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED;
  int group = -1;
  std::uint64_t spawned = 0;
  for (; spawned < threads; ++spawned) {
    const int rc = manager->spawn(event_loop, reactor, flags, nullptr, nullptr,
                                  ACE_DEFAULT_THREAD_PRIORITY, group);
    if (rc == -1) break;
    group = rc;
  }
  if (spawned < threads) {
    ACE_ERROR((LM_ERROR, "Failed to spawn %u event loop threads, errno=%d, %m\n",
               static_cast<unsigned>(threads), errno));
    // Threads that did start share the loop with the main thread.
    run_in_main_thread(reactor);
  }
  if (group != -1) manager->wait_grp(group);
}

}  // namespace

int main(int argc, char** argv) {
  // Before any other thread exists: requests run in many short-lived worker
  // threads, and with an arena per thread the memory one large request
  // (a library of 50,000 slots) leaves free is kept apart from the next
  // one's. Two arenas share it and keep the resident size near that of the
  // largest request.
  mallopt(M_ARENA_MAX, 2);
  install_log_sink();

  // 1-2. Uncaught exceptions, exported code.
  std::set_terminate(handle_terminate);
  init_stl_symbols();

  // 3. Host options, identity, reactor.
  // Daemonising and the identity switch fail closed: a host that could not
  // drop root as asked does not start.
  std::uint64_t threads = 0;
  std::unique_ptr<ACE_Reactor> previous_reactor;
  bool host_failed = false;
  if (ACE_Reactor* reactor = get_reactor(argc, argv, threads, host_failed)) {
    previous_reactor.reset(ACE_Reactor::instance(reactor, true));
  }
  if (host_failed) {
    ACE_ERROR(
        (LM_ERROR, "Failed to run as the requested user and groups; exiting with status 1\n"));
    return 1;
  }

  // 4. Host name for the log records.
  char host[64];
  if (ACE_OS::hostname(host, sizeof host) == 0) ACE_LOG_MSG->local_host(host);

  // 5-6. Signals, then the services. A service configuration that was
  // given and does not load ends the host with status 1, before systemd is
  // told that it is ready.
  init_signal_handlers();
  Service_Sources sources;
  const bool opened = open_service_config(
      argc, argv, true, [&](int c, char** v) { return open_configurator(c, v, sources); });
  refresh_signal_handlers();
  report_log_sink_errors();
  int failed = 0;
  if (!opened) {
    ACE_ERROR((LM_ERROR, "Failed to open the service configurator, errno=%d, %m\n", errno));
    if (!sources.empty()) failed = 1;
  }
  if (failed == 0) {
    ACE_DEBUG((LM_DEBUG, "Loading %d service configuration source(s)\n",
               static_cast<int>(sources.size())));
    failed = load_service_sources(sources);
  }
  if (failed != 0) {
    ACE_ERROR(
        (LM_ERROR, "%d service configuration(s) failed to load; exiting with status 1\n", failed));
    service_reloader().stop();
    ACE_Service_Config::fini_svcs();
    ACE_Service_Config::close();
    stop_signal_handlers();
    return 1;
  }

  // 7-9. Information, systemd, banner. Reloads are honoured from the
  // banner on.
  log_system_info();
  new_event_handler<Systemd_Handler>();
  service_reloader().start([argc, argv] {
    notify_reload_begins();
    notify_reload_ended(reload_services(argc, argv) == 0);
  });
  log_product_info();

  // 10. Run until a termination signal ends the loop.
  run_event_loops(threads);

  // 11. Finalise, after a reload in progress has finished: every service
  // hears of the stop first (so work not started is refused while the
  // services that answer for it still run), then they are finalised, the
  // last loaded first, and so are the ones a reload is still retiring.
  service_reloader().stop();
  services_stopping();
  ACE_Service_Config::fini_svcs();
  if (!service_retirer().stop(STOP_LIMIT)) {
    ACE_ERROR((LM_ERROR, "Services replaced by a reload still finishing after %d s; exiting\n",
               static_cast<int>(STOP_LIMIT.count())));
  }
  ACE_Service_Config::close();
  stop_signal_handlers();

  // 12. The kept previous reactor goes with previous_reactor.
  return 0;
}
