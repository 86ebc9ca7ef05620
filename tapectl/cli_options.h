// The command line of tapectl: global options (accepted before or after
// the subcommand), the subcommand and its operands, and the help texts.
#ifndef TAPECTL_CLI_OPTIONS_H
#define TAPECTL_CLI_OPTIONS_H

#include <string>
#include <vector>

namespace tapectl {

// Exit statuses.
enum Exit_Status { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_UNREACHABLE = 3 };

struct Options {
  std::string url;         // "" until resolved (see default_target())
  std::string token_file;  // "" when not given
  bool json = false;
  bool yes = false;
  bool help = false;
  int timeout_seconds = 3600;
  std::string command;  // "" when none was given
  std::vector<std::string> operands;
};

// Reads `args` (without the program name). False with a one-line reason in
// `error` for an unknown option, a missing or bad option value, an unknown
// subcommand or the wrong number of operands (not checked with --help).
bool parse_command_line(const std::vector<std::string>& args, Options& out, std::string& error);

// The whole help, or one subcommand's ("" when unknown).
std::string general_help();
std::string command_help(const std::string& command);

// The daemon's address and token file as the installed web configuration
// `web_conf` gives them: "http://<listen>:<port>" (a wildcard listen
// address becomes the loopback one) and its "token_file". When the file
// cannot be read: http://127.0.0.1:8870 and no token file.
void default_target(const std::string& web_conf, std::string& url, std::string& token_file);

}  // namespace tapectl

#endif
