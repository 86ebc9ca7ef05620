// The service object through which the service host brings the tape
// controller up and down.
//
// The host's service configurator loads libtapemgr, calls the exported
// factory _make_Tape_Controller_Service and then init(); init() opens the
// Tape_Controller singleton (database, configuration, device update) and
// fini() drops the process's reference to it. Both always return 0: a
// controller that could not reach its database or list its devices stays
// loaded, and its operations report their own failures.
//
// Reload (fini of the old service object, then init of a new one): web
// requests hold the controller for their whole length
// (Tape_Controller::acquire), so fini never frees a controller in use, and
// init takes such a live controller back, keeps its back end, queues and
// running operations, and only re-reads media_controller.conf. One
// controller exists at a time.
#ifndef D2T_CONTROLLER_TAPE_CONTROLLER_SERVICE_H
#define D2T_CONTROLLER_TAPE_CONTROLLER_SERVICE_H

#include <ace/Service_Object.h>

class Tape_Controller_Service : public ACE_Service_Object {
 public:
  Tape_Controller_Service();
  ~Tape_Controller_Service() override;

  // Tape_Controller::install(); opens it unless it was opened before, in
  // which case it re-reads its configuration. Arguments ignored; 0.
  int init(int argc, ACE_TCHAR* argv[]) override;
  // Tape_Controller::close_instance(); 0.
  int fini() override;
};

extern "C" {
// Stores _gobble_Tape_Controller_Service through `gobbler` when it is not
// null and returns a new service object.
ACE_Service_Object* _make_Tape_Controller_Service(void (**gobbler)(void*));
// Destroys an object made by the factory; `p` must not be null.
void _gobble_Tape_Controller_Service(void* p);
}

#endif
