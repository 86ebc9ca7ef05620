// Loading and replacing the host's services, with every failure counted.
//
// ACE's service configurator reads its "-f" files and "-S" directives
// inside open() and reports a directive that failed (a library that does not
// load, a factory that is missing or returns null, a service whose init
// fails) only as a debug message, so a host that lets it read them cannot
// tell a healthy start from one that loaded nothing. The host therefore
// opens the configurator without its sources, reads them itself
// (service_directives.h) and feeds it one directive at a time through
// ACE_Service_Config::process_directive, whose result counts the failures,
// remembering which directive each running service came from.

#ifndef STARTER_SERVICE_LOADER_H
#define STARTER_SERVICE_LOADER_H

#include <string>
#include <vector>

#include "starter/open_service_config.h"

// One "-f FILE" or "-S DIRECTIVE" of the configurator's words.
struct Service_Source {
  enum Kind { FILE, DIRECTIVE };
  Kind kind;
  std::string text;  // the file's path, or the directive
};

typedef std::vector<Service_Source> Service_Sources;

// Splits the configurator's words (`argv[0]` the program name): every
// "-f FILE" and "-S DIRECTIVE" becomes a source, in order; every other word
// (with the arguments of "-k", "-p" and "-s") is appended to `rest`.
Service_Sources split_service_sources(int argc, char** argv, Service_Args& rest);

// Loads each source in order and returns how many failed (0 when all
// loaded). A file that cannot be read (missing, not readable, a directory)
// counts once; a file whose directives fail counts once, and each of its
// services that is not in the repository afterwards is logged with the
// reason found: its library does not load, its factory is missing, or (both
// being fine) its init failed. Every failure is logged at LM_ERROR.
int load_service_sources(const Service_Sources& sources);

// The names of the services in the repository, in the order they were
// loaded.
std::vector<std::string> loaded_service_names();

// One reload, from the sources of the host's command line `argv` read
// again (directories listed anew). Returns the number of failures; on
// failure nothing has changed.
//
//   1. Every source is read; one that cannot be read ends the reload.
//   2. The running services are kept, in load order, while each one's
//      directive reads as before, the files its directive names hold the
//      same bytes, and (for a Hosted_Service) prepare_reload() says KEEP.
//      The first that differs and every service loaded after it (they may
//      depend on it) are replaced.
//   3. Those are taken out of the repository, still running, and the new
//      directives are loaded in their place (a new web service takes over
//      the old one's listening socket).
//   4. All loaded: kept services are told to take what they staged, and
//      the old services are finalised on the retirer's thread (their
//      requests finish there). One failed: the new services are
//      finalised the same way, the old ones go back into the repository
//      in their order, and the kept ones drop what they staged.
int reload_services(int argc, char** argv);

// Tells every service that the host is stopping (Hosted_Service::stopping),
// the last loaded first, and then the services still being retired.
void services_stopping();

// Opens the configurator with the words of `argv` other than the sources
// (configurator logging, -b/-p, -s, -d, -n/-y; its default "svc.conf" is
// never read) and stores the sources in `sources`. True when it opened.
bool open_configurator(int argc, char** argv, Service_Sources& sources);

#endif
