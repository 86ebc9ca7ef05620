// The command line of tapectl: options (accepted before or after the
// subcommand), the subcommand and its operands, the help texts, and where
// the daemon and the token are when no option says.
#ifndef TAPECTL_CLI_OPTIONS_H
#define TAPECTL_CLI_OPTIONS_H

#include <string>
#include <vector>

namespace tapectl {

// Exit statuses.
enum Exit_Status {
  EXIT_OK = 0,
  EXIT_FAILED = 1,       // the daemon refused or failed the operation
  EXIT_USAGE = 2,        // bad command line, URL or token file
  EXIT_UNREACHABLE = 3,  // nothing was sent: lookup, connection or TLS failed
  EXIT_NO_ANSWER = 4     // the request was sent, no answer came
};

// Printed with EXIT_NO_ANSWER.
extern const char* const NO_ANSWER_TEXT;

// Longest --timeout accepted, in seconds (30 days).
const long MAX_TIMEOUT_SECONDS = 30L * 24 * 3600;

struct Options {
  std::string url;         // "" until resolved (see resolve_target())
  std::string token_file;  // "" when not given
  std::string ca_file;     // --cacert; "" for the system's certificates
  bool json = false;
  bool yes = false;
  bool help = false;
  bool version = false;
  long timeout_seconds = 3600;  // 0: no limit
  std::string command;          // "" when none was given
  std::vector<std::string> operands;
  // Set by resolve_target(): the configured token file this account may
  // not read (named when the daemon then answers 401).
  std::string unreadable_token_file;
};

// Reads `args` (without the program name). False with a one-line reason in
// `error` for an unknown option, a missing or bad option value (a
// --timeout outside 0..MAX_TIMEOUT_SECONDS included), an unknown
// subcommand or the wrong number of operands (not checked with --help or
// --version).
bool parse_command_line(const std::vector<std::string>& args, Options& out, std::string& error);

// The whole help, or one subcommand's ("" when unknown).
std::string general_help();
std::string command_help(const std::string& command);
// "tapectl VERSION (libcurl VERSION)".
std::string version_text();

// The daemon's address and token file as the installed web configuration
// `web_conf` gives them: "http[s]://<listen>:<port>" (https when it names
// a TLS certificate; a wildcard listen address becomes the loopback one)
// and its "token_file". When the file cannot be read:
// http://127.0.0.1:8870 and no token file.
void default_target(const std::string& web_conf, std::string& url, std::string& token_file);

// Fills the URL and token file that no option gave: from the environment
// (TAPECTL_URL, TAPECTL_TOKEN_FILE), else from `web_conf`. Its token file
// is used only for its own address (a token never goes to another daemon
// unasked) and when this account may read it; when it may not, it is
// named in `unreadable_token_file`.
void resolve_target(const std::string& web_conf, Options& options);

}  // namespace tapectl

#endif
