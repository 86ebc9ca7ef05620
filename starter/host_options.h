// The service host's own command-line options and the start-up work they
// ask for: daemonising, the identity switch and the reactor.
//
// Host options are long options only (--threads 4). The same argument
// vector also carries the service configurator's options; each parser takes
// its own options and silently skips everything else.

#ifndef STARTER_HOST_OPTIONS_H
#define STARTER_HOST_OPTIONS_H

#include <cstdint>

#include "starter/identity.h"

class ACE_Reactor;

struct Host_Options {
  std::uint64_t threads = 0;      // --threads (unsigned decimal, leading digits)
  const char* reactor = nullptr;  // --reactor; borrowed from the argument vector
  bool background = false;        // --background
  Identity_Request identity;      // --user, --primary-group, each --group
};

// Reads the host options from `argv` (argument 0 skipped). Unknown options,
// options without their argument and other words are ignored.
Host_Options parse_host_options(int argc, char** argv);

// Applies the host options in this order: daemonise (--background), switch
// identity, create the reactor named by --reactor. Returns the new reactor
// (owned by the caller) or null when none was asked for or it could not be
// created (logged). `threads` is set to 0 on entry and to the thread count
// only when a reactor is returned. `failed` is set when daemonising or the
// identity switch failed (logged; null is returned at once): the host
// must not go on.
ACE_Reactor* get_reactor(int argc, char** argv, std::uint64_t& threads, bool& failed);

#endif
