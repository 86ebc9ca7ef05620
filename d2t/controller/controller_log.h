// Log lines shared by the controller's source files (internal header).
#ifndef D2T_CONTROLLER_CONTROLLER_LOG_H
#define D2T_CONTROLLER_CONTROLLER_LOG_H

#include <ace/Log_Msg.h>

// A controller operation that needs the inventory back end found none:
// a programming error (open() was not called), logged with a stack trace.
#define D2T_LOG_IMPL_NULL()                                                  \
  ACE_ERROR((LM_EMERGENCY,                                                   \
             ACE_TEXT("Unexpected error in %N:%l, impl_ is NULL:\n%?\n")))

#endif
