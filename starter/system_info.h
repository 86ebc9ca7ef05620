// The two start-up information messages of the service host: what machine
// it runs on and which product build it is.

#ifndef STARTER_SYSTEM_INFO_H
#define STARTER_SYSTEM_INFO_H

#include <cstdint>

const char* const VM_SWAPPINESS_PATH = "/proc/sys/vm/swappiness";

// The kernel's swappiness read from `path`, or -1 with errno set when the
// file cannot be opened or read (-1 also when it is empty).
std::int16_t get_vm_swappiness(const char* path = VM_SWAPPINESS_PATH);

// Logs LM_INFO "system info: sysname=..., swappiness=%d" (uname fields,
// processors, memory in GiB, open-files limit, swappiness). A swappiness
// that cannot be read is logged as an error first and shown as -1.
// Nothing but that error is logged when uname fails.
void log_system_info(const char* swappiness_path = VM_SWAPPINESS_PATH);

// Logs LM_INFO the product banner: "kestrel3 <version> (rev <revision>) is
// started." or, with COMPONENT set and not empty, "kestrel3-<component>
// <version> ...".
void log_product_info();

// The version and revision strings built into the banner.
const char* product_version();
const char* product_revision();

#endif
