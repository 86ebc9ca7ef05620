// Reloading the host's services on SIGHUP, on a thread of its own.
//
// The host moves through three phases: STARTING (services being loaded),
// RUNNING, STOPPING (a termination signal came; services are being
// finalised). A reload is honoured only while RUNNING: during start-up and
// shutdown the services are half made or half gone, so a request then is
// logged and ignored.
//
// Requests are coalesced: while a reload waits or runs, further requests
// ask for one more reload after it (a configuration changed meanwhile is
// read), never for one each. The signal relay thread only records a
// request, so a termination signal behind any number of SIGHUPs is acted
// upon at once; stop() then waits only for a reload already running.
//
// What a reload does is the function given to start(); its failures are
// its own to log, never fatal.

#ifndef STARTER_SERVICE_RELOADER_H
#define STARTER_SERVICE_RELOADER_H

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class Service_Reloader {
 public:
  enum Phase { STARTING, RUNNING, STOPPING };

  Service_Reloader() = default;
  ~Service_Reloader();  // runs stop()
  Service_Reloader(const Service_Reloader&) = delete;
  Service_Reloader& operator=(const Service_Reloader&) = delete;

  // STARTING -> RUNNING: starts the reload thread, which runs `reload` once
  // per coalesced request. Ignored in any other phase (a termination signal
  // during start-up leaves the host STOPPING).
  void start(std::function<void()> reload);

  // Asks for a reload on behalf of signal `sig`. Returns true when one will
  // run; false (logged with the signal's number and name) when the phase is
  // not RUNNING.
  bool request(int sig);

  // Enters STOPPING: later requests are ignored, a pending one is dropped.
  // Never waits. Called by the termination signal's handler.
  void begin_shutdown();

  // begin_shutdown(), then waits for a reload in progress and joins the
  // thread. Idempotent.
  void stop();

  Phase phase() const;
  unsigned completed() const;  // reloads finished so far

 private:
  void run();

  mutable std::mutex lock_;
  std::condition_variable wake_;
  Phase phase_ = STARTING;  // guarded by lock_
  bool pending_ = false;    // guarded by lock_
  bool running_ = false;    // a reload is in progress; guarded by lock_
  unsigned completed_ = 0;  // guarded by lock_
  std::function<void()> reload_;
  std::thread thread_;
};

// The host's reloader.
Service_Reloader& service_reloader();

#endif
