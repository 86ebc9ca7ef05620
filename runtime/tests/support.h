// The temporary folder and the log capture of the runtime tests.
#ifndef RUNTIME_TESTS_SUPPORT_H
#define RUNTIME_TESTS_SUPPORT_H

#include "testing/log_capture.h"
#include "testing/temp_dir.h"

using test_support::Log_Capture;
using test_support::Temp_Dir;

#endif
