// Creation of the host's own event handlers.

#ifndef STARTER_NEW_EVENT_HANDLER_H
#define STARTER_NEW_EVENT_HANDLER_H

#include <ace/Event_Handler.h>
#include <ace/Reactor.h>

#include <cerrno>
#include <new>

// Creates a reference-counted T and opens it on the process-wide reactor.
// The reactor keeps its own reference while it holds the handler (a
// scheduled timer, a registered handle), so a handler whose open() fails is
// destroyed before this returns and one that succeeded lives as long as the
// reactor holds it. Sets errno to ENOMEM when T cannot be allocated.
template <typename T>
void new_event_handler() {
  T* handler = new (std::nothrow) T;
  if (handler == nullptr) {
    errno = ENOMEM;
    return;
  }
  handler->reference_counting_policy().value(ACE_Event_Handler::Reference_Counting_Policy::ENABLED);
  ACE_Event_Handler_var creation_reference(handler);
  handler->open(ACE_Reactor::instance());
}

#endif
