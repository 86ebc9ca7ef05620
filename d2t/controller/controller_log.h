// Log lines shared by the controller's source files (internal header).
#ifndef D2T_CONTROLLER_CONTROLLER_LOG_H
#define D2T_CONTROLLER_CONTROLLER_LOG_H

#include <ace/Log_Msg.h>

#include "d2t/tools/diagnosis.h"

// A controller operation that needs the inventory back end found none:
// a programming error (open() was not called), logged with a stack trace.
#define D2T_LOG_IMPL_NULL()                                                  \
  ACE_ERROR((LM_EMERGENCY,                                                   \
             ACE_TEXT("Unexpected error in %N:%l, impl_ is NULL:\n%?\n")))

// After a failed device listing's own line: why the listing of this
// thread failed (an emulated library file's key and problem, a sysfs
// error), when the device layer said.
#define D2T_LOG_LISTING_CAUSE()                                              \
  do {                                                                       \
    const std::string& d2t_why_ = d2t::tools::listing_error();               \
    if (!d2t_why_.empty())                                                   \
      ACE_ERROR((LM_ERROR, ACE_TEXT("Device listing failed: %C\n"),         \
                 d2t_why_.c_str()));                                         \
  } while (0)

#endif
