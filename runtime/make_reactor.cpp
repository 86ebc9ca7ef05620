// Reactor kinds by name.
#include "runtime/make_reactor.h"

#include <cerrno>
#include <new>

#include <ace/Dev_Poll_Reactor.h>
#include <ace/Log_Msg.h>
#include <ace/Priority_Reactor.h>
#include <ace/Reactor.h>
#include <ace/Select_Reactor.h>
#include <ace/TP_Reactor.h>

template <typename T>
ACE_Reactor* make_reactor() {
  T* impl = new (std::nothrow) T();
  if (impl == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  // The reactor deletes the implementation when it is deleted itself.
  ACE_Reactor* reactor = new (std::nothrow) ACE_Reactor(impl, true);
  if (reactor == nullptr) {
    delete impl;
    errno = ENOMEM;
    return nullptr;
  }
  return reactor;
}

template ACE_Reactor* make_reactor<ACE_Priority_Reactor>();
template ACE_Reactor* make_reactor<ACE_TP_Reactor>();
template ACE_Reactor* make_reactor<ACE_Select_Reactor>();
template ACE_Reactor* make_reactor<ACE_Dev_Poll_Reactor>();

const Key_Value_T<Make_Reactor_Fn> make_reactor_table[] = {
    {"priority", &make_reactor<ACE_Priority_Reactor>},
    {"tp", &make_reactor<ACE_TP_Reactor>},
    {"select", &make_reactor<ACE_Select_Reactor>},
    {"dev_poll", &make_reactor<ACE_Dev_Poll_Reactor>},
    {nullptr, nullptr},
};

Make_Reactor_Fn get_reactor_factory(const char* type, std::uint64_t threads) {
  Make_Reactor_Fn maker = get_key_value_entry(make_reactor_table, type).value;
  if (maker != nullptr && std::strcmp(type, "tp") == 0 && threads <= 1) {
    ACE_ERROR((LM_ERROR, "The number of threads (%u) of thread pool reactor is less than 2",
               static_cast<unsigned int>(threads)));
    return nullptr;
  }
  return maker;
}
