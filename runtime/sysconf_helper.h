// Facts about the machine from sysconf().
#ifndef RUNTIME_SYSCONF_HELPER_H
#define RUNTIME_SYSCONF_HELPER_H

#include <cstdint>

// Physical memory in bytes: the number of physical pages times the page
// size. 0 when either cannot be read.
std::uint64_t get_system_memory();

#endif
