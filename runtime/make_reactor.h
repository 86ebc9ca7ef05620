// Creation of the process reactor from its kind name (--reactor).
#ifndef RUNTIME_MAKE_REACTOR_H
#define RUNTIME_MAKE_REACTOR_H

#include <cstdint>
#include <cstring>

class ACE_Reactor;

// One row of a name-keyed table. A table ends with a row whose `key` is
// null.
template <typename V>
struct Key_Value_T {
  const char* key;
  V value;
};

// The first row of `table` whose key equals `key` (exact, case-sensitive),
// or the terminating row when there is none or `key` is null.
template <typename Row>
const Row& get_key_value_entry(const Row* table, const char* key) {
  const Row* row = table;
  for (; row->key != nullptr; ++row) {
    if (key != nullptr && std::strcmp(row->key, key) == 0) break;
  }
  return *row;
}

// Creates a new reactor, or returns null. The caller owns the result.
typedef ACE_Reactor* (*Make_Reactor_Fn)();

// Creates the implementation T with its default parameters and a reactor
// that owns it. Null with errno ENOMEM when an allocation fails.
// Instantiated for ACE_Priority_Reactor, ACE_TP_Reactor, ACE_Select_Reactor
// and ACE_Dev_Poll_Reactor.
template <typename T>
ACE_Reactor* make_reactor();

// "priority", "tp", "select", "dev_poll", then the terminating row.
extern const Key_Value_T<Make_Reactor_Fn> make_reactor_table[];

// The maker for the kind `type`, or null for an unknown kind (nothing is
// logged) or for "tp" with `threads` below 2 (logged LM_ERROR, as the
// thread-pool reactor needs at least two event-loop threads).
Make_Reactor_Fn get_reactor_factory(const char* type, std::uint64_t threads);

#endif
