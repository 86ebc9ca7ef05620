#include "starter/service_reloader.h"

#include <ace/Log_Msg.h>
#include <pthread.h>
#include <string.h>

#include <utility>

Service_Reloader::~Service_Reloader() { stop(); }

void Service_Reloader::start(std::function<void()> reload) {
  std::lock_guard<std::mutex> guard(lock_);
  if (phase_ != STARTING) return;
  reload_ = std::move(reload);
  phase_ = RUNNING;
  thread_ = std::thread([this] { run(); });
  ::pthread_setname_np(thread_.native_handle(), "reload");
}

bool Service_Reloader::request(int sig) {
  const char* name = ::strsignal(sig);
  std::lock_guard<std::mutex> guard(lock_);
  switch (phase_) {
    case STARTING:
      ACE_DEBUG((LM_WARNING,
                 "Signal %d (%s) caught during start-up: ignored, services are still loading\n",
                 sig, name));
      return false;
    case STOPPING:
      ACE_DEBUG((LM_WARNING, "Signal %d (%s) caught during shutdown: ignored\n", sig, name));
      return false;
    case RUNNING:
      break;
  }
  if (pending_) {
    ACE_DEBUG((LM_INFO, "Signal %d (%s) caught: a reload is already waiting to run\n", sig, name));
  } else if (running_) {
    ACE_DEBUG((LM_INFO, "Signal %d (%s) caught: reconfiguring again after the reload in progress\n",
               sig, name));
  } else {
    ACE_DEBUG((LM_INFO, "Signal %d (%s) caught, and reconfiguring ... \n", sig, name));
  }
  pending_ = true;
  wake_.notify_all();
  return true;
}

void Service_Reloader::begin_shutdown() {
  std::lock_guard<std::mutex> guard(lock_);
  phase_ = STOPPING;
  pending_ = false;
  wake_.notify_all();
}

void Service_Reloader::stop() {
  begin_shutdown();
  if (thread_.joinable()) thread_.join();
}

Service_Reloader::Phase Service_Reloader::phase() const {
  std::lock_guard<std::mutex> guard(lock_);
  return phase_;
}

unsigned Service_Reloader::completed() const {
  std::lock_guard<std::mutex> guard(lock_);
  return completed_;
}

void Service_Reloader::run() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    wake_.wait(guard, [this] { return pending_ || phase_ == STOPPING; });
    if (phase_ == STOPPING) return;
    pending_ = false;
    running_ = true;
    guard.unlock();
    reload_();
    guard.lock();
    running_ = false;
    ++completed_;
  }
}

Service_Reloader& service_reloader() {
  // Never destroyed: the relay thread may ask for it until the process ends.
  static Service_Reloader* reloader = new Service_Reloader;
  return *reloader;
}
