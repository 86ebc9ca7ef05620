#include "d2t/controller/tape_controller_service.h"

#include <ace/Log_Msg.h>

#include "d2t/controller/tape_controller.h"

Tape_Controller_Service::Tape_Controller_Service() : ACE_Service_Object(nullptr) {}

Tape_Controller_Service::~Tape_Controller_Service() {}

int Tape_Controller_Service::init(int, ACE_TCHAR*[]) {
  std::shared_ptr<Tape_Controller> controller = Tape_Controller::install();
  if (!controller) return 0;
  if (controller->opened()) {
    // Reconfigured while it lives (a reload): requests may be running on
    // it, so only the configuration is read again.
    controller->reload_config();
    ACE_DEBUG((LM_INFO, ACE_TEXT("Tape controller kept, configuration re-read\n")));
    return 0;
  }
  // A controller that failed to reach its database or its devices still
  // serves requests; each operation reports its own failure.
  controller->open();
  return 0;
}

int Tape_Controller_Service::fini() {
  Tape_Controller::close_instance();
  return 0;
}

extern "C" ACE_Service_Object* _make_Tape_Controller_Service(void (**gobbler)(void*)) {
  if (gobbler != nullptr) *gobbler = &_gobble_Tape_Controller_Service;
  return new Tape_Controller_Service();
}

extern "C" void _gobble_Tape_Controller_Service(void* _p) {
  ACE_ASSERT(_p != 0);
  delete static_cast<ACE_Service_Object*>(_p);
}
