// A minimal service object for exercising the service host: it logs its
// initialisation and finalisation, and on request misbehaves or reports.
//
// Arguments (each one word of the directive's argument string):
//   name=TEXT       the name shown in its messages (default "demo")
//   throw           throws std::runtime_error from a reactor timer, so the
//                   exception escapes the event loop
//   check_symbols   logs whether the host program exports the standard
//                   library instantiations that services resolve against it
//   fini_delay_ms=N sleeps N ms in fini (to widen the shutdown window)
//   init_delay_ms=N sleeps N ms in init (to widen the start-up window)
//   fail_init       init returns -1 (a service that cannot start)
//
// Messages: "Demo_Service(NAME)::init argc=N" ... "Demo_Service(NAME)::fini".

#include <ace/Event_Handler.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_unistd.h>
#include <ace/Reactor.h>
#include <ace/Service_Object.h>
#include <ace/svc_export.h>

#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

class Thrower : public ACE_Event_Handler {
 public:
  int handle_timeout(const ACE_Time_Value&, const void*) override {
    throw std::runtime_error("demo service failure");
  }
};

// Mangled names of the instantiations the host exports.
const char* const EXPORTED[] = {
    "_ZSt3maxImERKT_S2_S2_",                                       // max<unsigned long>
    "_ZSt3maxIlERKT_S2_S2_",                                       // max<long>
    // swap<less<string>>
    "_ZSt4swapISt4lessINSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEEENSt9enable_ifIXsrSt6__"
    "and_IJSt6__not_ISt15__is_tuple_likeIT_EESt21is_move_constructibleISC_ESt18is_move_assignable"
    "ISC_EEE5valueEvE4typeERSC_SM_",
    // swap<unsigned long>
    "_ZSt4swapImENSt9enable_ifIXsrSt6__and_IJSt6__not_ISt15__is_tuple_likeIT_EESt21is_move_"
    "constructibleIS4_ESt18is_move_assignableIS4_EEE5valueEvE4typeERS4_SE_",
};

}  // namespace

class Demo_Service : public ACE_Service_Object {
 public:
  int init(int argc, ACE_TCHAR* argv[]) override {
    for (int i = 0; i < argc; ++i) {
      const char* arg = argv[i];
      if (std::strncmp(arg, "name=", 5) == 0) {
        name_ = arg + 5;
      } else if (std::strncmp(arg, "fini_delay_ms=", 14) == 0) {
        fini_delay_ms_ = std::atoi(arg + 14);
      } else if (std::strncmp(arg, "init_delay_ms=", 14) == 0) {
        // sleep_for resumes after a signal interrupts it.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(arg + 14)));
      }
    }
    ACE_DEBUG((LM_INFO, "Demo_Service(%C)::init argc=%d\n", name_.c_str(), argc));
    for (int i = 0; i < argc; ++i) {
      if (std::strcmp(argv[i], "fail_init") == 0) return -1;
    }
    for (int i = 0; i < argc; ++i) {
      if (std::strcmp(argv[i], "throw") == 0) {
        ACE_Reactor::instance()->schedule_timer(&thrower_, nullptr, ACE_Time_Value(0, 1000));
      } else if (std::strcmp(argv[i], "check_symbols") == 0) {
        for (const char* symbol : EXPORTED) {
          ACE_DEBUG((LM_INFO, "Demo_Service(%C) symbol %C %C\n", name_.c_str(), symbol,
                     ::dlsym(RTLD_DEFAULT, symbol) != nullptr ? "found" : "missing"));
        }
      }
    }
    return 0;
  }

  int fini() override {
    ACE_Reactor::instance()->cancel_timer(&thrower_);
    if (fini_delay_ms_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(fini_delay_ms_));
    ACE_DEBUG((LM_INFO, "Demo_Service(%C)::fini\n", name_.c_str()));
    return 0;
  }

 private:
  std::string name_ = "demo";
  int fini_delay_ms_ = 0;
  Thrower thrower_;
};

extern "C" ACE_Svc_Export void _gobble_Demo_Service(void* p) {
  delete static_cast<ACE_Service_Object*>(p);
}

extern "C" ACE_Svc_Export ACE_Service_Object* _make_Demo_Service(
    ACE_Service_Object_Exterminator* gobbler) {
  if (gobbler != nullptr) *gobbler = _gobble_Demo_Service;
  return new (std::nothrow) Demo_Service;
}
