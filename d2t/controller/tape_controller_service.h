// The service object through which the service host brings the tape
// controller up and down.
//
// The host's service configurator loads libtapemgr, calls the exported
// factory _make_Tape_Controller_Service and then init(); init() opens the
// Tape_Controller singleton (database, configuration, device update) and
// fails when the inventory database cannot be opened (so the host does not
// start, or a reload that brought the service changes nothing); a
// controller that cannot list its devices stays loaded and its operations
// report their own failures. fini() drops the process's reference to it
// once no other service object of this kind holds it.
//
// Reload: an unchanged service is kept and re-reads media_controller.conf
// once the reload succeeded (finish_reload), so operations that start after
// it use the new tunables. A replaced one (its directive changed) shares
// the live controller with its replacement: web requests hold the
// controller for their whole length (Tape_Controller::acquire), queues and
// running operations stay. One controller exists at a time.
//
// Stop: stopping() turns away the operations waiting in the libraries'
// queues and every later one ("Service is stopping"), while the web
// service can still answer them; operations already moving finish and are
// recorded. Never on a reload.
#ifndef D2T_CONTROLLER_TAPE_CONTROLLER_SERVICE_H
#define D2T_CONTROLLER_TAPE_CONTROLLER_SERVICE_H

#include <ace/Service_Object.h>

#include "runtime/hosted_service.h"

class Tape_Controller_Service : public ACE_Service_Object, public Hosted_Service {
 public:
  Tape_Controller_Service();
  ~Tape_Controller_Service() override;

  // Tape_Controller::install(); opens it unless it was opened before, in
  // which case it re-reads its configuration. Arguments ignored; 0, or -1
  // (logged) when the inventory database cannot be opened.
  int init(int argc, ACE_TCHAR* argv[]) override;
  // Tape_Controller::close_instance() when no other service object holds
  // the controller; 0.
  int fini() override;

  Reload prepare_reload() override;
  void finish_reload(bool done) override;
  void stopping() override;

 private:
  bool initialised_ = false;
};

extern "C" {
// Stores _gobble_Tape_Controller_Service through `gobbler` when it is not
// null and returns a new service object.
ACE_Service_Object* _make_Tape_Controller_Service(void (**gobbler)(void*));
// Destroys an object made by the factory; `p` must not be null.
void _gobble_Tape_Controller_Service(void* p);
}

#endif
