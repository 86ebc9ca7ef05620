// tapectl: the operator's command-line client of the daemon's REST API.
#include <curl/curl.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tapectl/cli_options.h"
#include "tapectl/commands.h"

#ifndef TAPECTL_WEB_CONF
#define TAPECTL_WEB_CONF "/etc/opt/quillon/kestrel3/tape/web.conf"
#endif

int main(int argc, char** argv) {
  using namespace tapectl;
  std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  std::string error;
  if (!parse_command_line(args, options, error)) {
    std::cerr << "tapectl: " << error << "\nRun 'tapectl --help' for the usage.\n";
    return EXIT_USAGE;
  }
  if (options.version) {
    std::cout << version_text();
    return EXIT_OK;
  }
  if (options.help) {
    std::cout << (options.command.empty() ? general_help() : command_help(options.command));
    return EXIT_OK;
  }
  resolve_target(TAPECTL_WEB_CONF, options);
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::cerr << "tapectl: libcurl could not start\n";
    return EXIT_UNREACHABLE;
  }
  const char* term = std::getenv("TERM");
  const bool colour = ::isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr &&
                      term != nullptr && std::string(term) != "dumb";
  const int status = run_command(options, std::cin, std::cout, std::cerr, colour);
  curl_global_cleanup();
  return status;
}
