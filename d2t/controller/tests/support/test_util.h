// The temporary folder and the log capture of the inventory and the
// controller tests, under the names they use.
#ifndef D2T_CONTROLLER_TESTS_SUPPORT_TEST_UTIL_H
#define D2T_CONTROLLER_TESTS_SUPPORT_TEST_UTIL_H

#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace controller_test {

using test_support::Log_Capture;
using test_support::Temp_Dir;

}  // namespace controller_test

#endif
