// tapectl: the operator's command-line client of the daemon's REST API.
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
  if (options.help) {
    std::cout << (options.command.empty() ? general_help() : command_help(options.command));
    return EXIT_OK;
  }
  std::string url, token_file;
  default_target(TAPECTL_WEB_CONF, url, token_file);
  if (options.url.empty()) options.url = url;
  // The configured token file is used only when this user may read it.
  if (options.token_file.empty() && !token_file.empty() && ::access(token_file.c_str(), R_OK) == 0)
    options.token_file = token_file;
  const char* term = std::getenv("TERM");
  const bool colour = ::isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr &&
                      term != nullptr && std::string(term) != "dumb";
  return run_command(options, std::cin, std::cout, std::cerr, colour);
}
