// Thread-safe access to the process environment.
//
// Every accessor below orders itself against the others through one
// process-wide reader/writer lock: readers take it shared, writers take it
// exclusive, so a reader sees a value either before or after a concurrent
// write, and the read-modify-write of append_env/prepend_env is atomic with
// respect to the other accessors. Code that calls getenv/setenv directly is
// not covered by the lock.
#ifndef RUNTIME_ENVIRON_H
#define RUNTIME_ENVIRON_H

#include <string>

#include <ace/RW_Thread_Mutex.h>

// The process-wide environment lock. It is created before main() runs and
// destroyed at process exit. It refers to a single object even when this
// static library is linked into both the program and a shared library that
// the program loads, so loading or unloading that library never
// re-initialises a lock other threads may hold.
extern ACE_RW_Thread_Mutex& g_env_mutex;

// The lock itself; usable from static initialisers that run before
// g_env_mutex is bound.
ACE_RW_Thread_Mutex& env_mutex();

// The value of `name`, or "" when it is unset, when the lock cannot be
// taken, or when `name` is null or "" (the latter is logged LM_EMERGENCY).
std::string get_env_r(const char* name);

// Sets `name` to `val` (overwriting), or removes it when `val` is null.
// True on success; false when the change fails, when the lock cannot be
// taken, or when `name` is null or "" (logged LM_EMERGENCY).
bool set_env(const char* name, const char* val);

// Sets `name` to "old:val" when it has a non-empty value `old`, else to
// `val`; a null `val` removes the variable. Same result as set_env.
bool append_env(const char* name, const char* val);

// As append_env, with "val:old".
bool prepend_env(const char* name, const char* val);

// The unlocked core of set_env. The caller holds g_env_mutex exclusively.
// Logs nothing; false (errno set) on failure or an invalid name.
bool set_env_i(const char* name, const char* val);

#endif
