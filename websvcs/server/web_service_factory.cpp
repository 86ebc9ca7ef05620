// The factory through which the service configurator creates the web
// service object (ACE's service-factory convention).
#include <new>

#include "websvcs/server/web_service.h"

extern "C" void _gobble_Web_Service(void* p) {
  delete static_cast<ACE_Service_Object*>(p);
}

extern "C" ACE_Service_Object* _make_Web_Service(ACE_Service_Object_Exterminator* gobbler) {
  if (gobbler) *gobbler = reinterpret_cast<ACE_Service_Object_Exterminator>(&_gobble_Web_Service);
  return new (std::nothrow) Web_Service;
}
