// Loading and replacing the host's services, with every failure counted.
//
// ACE's service configurator reads its "-f" files and "-S" directives
// inside open() and reports a directive that failed (a library that does not
// load, a factory that is missing or returns null, a service whose init
// fails) only as a debug message, so a host that lets it read them cannot
// tell a healthy start from one that loaded nothing. The host therefore
// opens the configurator without its sources and feeds them itself, one by
// one, through ACE_Service_Config::process_file and process_directive,
// whose results count the failures.

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

// Finalises and removes every service in the repository, the last loaded
// first, so that a service is finalised before those it was configured
// after (and may depend on). Returns the number removed.
int remove_all_services();

// One reload: finalises and removes every service (remove_all_services),
// then reads the sources of the host's command line `argv` again
// (directories listed anew) and loads them. Failures are logged, never
// fatal: the services that loaded run. Returns the number of failures.
//
// Removing everything first, the web service before the controller it
// calls, means no request is in flight while the objects it uses are
// replaced: the web service's fini lets the requests it accepted finish and
// answer, and only then does the controller's service go.
int reload_services(int argc, char** argv);

// Opens the configurator with the words of `argv` other than the sources
// (configurator logging, -b/-p, -s, -d, -n/-y; its default "svc.conf" is
// never read) and stores the sources in `sources`. True when it opened.
bool open_configurator(int argc, char** argv, Service_Sources& sources);

#endif
