#include "d2t/controller/tape_controller_service.h"

#include <ace/Log_Msg.h>

#include <atomic>

#include "d2t/controller/tape_controller.h"

namespace {

// Service objects initialised and not yet finalised. A reload may load a
// new one before the old one goes; both share the process's controller,
// which only the last one's fini lets go.
std::atomic<int> g_services(0);

}  // namespace

Tape_Controller_Service::Tape_Controller_Service() : ACE_Service_Object(nullptr) {}

Tape_Controller_Service::~Tape_Controller_Service() {}

int Tape_Controller_Service::init(int, ACE_TCHAR*[]) {
  std::shared_ptr<Tape_Controller> controller = Tape_Controller::install();
  if (!controller) {
    ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the tape controller: out of memory\n")),
                     -1);
  }
  if (controller->opened()) {
    // Reconfigured while it lives (a reload): requests may be running on
    // it, so only the configuration is read again.
    controller->reload_config();
    ACE_DEBUG((LM_INFO, ACE_TEXT("Tape controller kept, configuration re-read\n")));
    initialised_ = true;
    ++g_services;
    return 0;
  }
  // A controller that cannot list its devices still serves requests (each
  // operation reports its own failure); one without its inventory database
  // can do nothing, and the service does not start.
  if (!controller->open() && (controller->impl() == nullptr || !controller->impl()->open())) {
    if (g_services == 0) Tape_Controller::close_instance();
    ACE_ERROR_RETURN((LM_ERROR, ACE_TEXT("Failed to start the tape controller: its inventory "
                                         "database cannot be opened\n")),
                     -1);
  }
  initialised_ = true;
  ++g_services;
  return 0;
}

int Tape_Controller_Service::fini() {
  if (!initialised_) return 0;
  initialised_ = false;
  if (--g_services == 0) Tape_Controller::close_instance();
  return 0;
}

Hosted_Service::Reload Tape_Controller_Service::prepare_reload() { return KEEP; }

void Tape_Controller_Service::finish_reload(bool done) {
  if (!done) return;
  if (Tape_Controller* controller = Tape_Controller::instance()) controller->reload_config();
}

void Tape_Controller_Service::stopping() {
  const std::shared_ptr<Tape_Controller> controller = Tape_Controller::acquire();
  if (controller) controller->stop_queues();
}

extern "C" ACE_Service_Object* _make_Tape_Controller_Service(void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = &_gobble_Tape_Controller_Service;
  return new Tape_Controller_Service();
}

extern "C" void _gobble_Tape_Controller_Service(void* _p) {
  ACE_ASSERT(_p != 0);
  delete static_cast<ACE_Service_Object*>(_p);
}
