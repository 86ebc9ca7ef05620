// The subcommands of tapectl, in one table: name, operands, help, the
// request each makes and how its reply is shown; and running one.
#ifndef TAPECTL_COMMANDS_H
#define TAPECTL_COMMANDS_H

#include <iosfwd>
#include <string>
#include <vector>

#include "json_spirit/json_spirit_value.h"
#include "tapectl/cli_options.h"

namespace tapectl {

typedef std::vector<std::string> Operands;

// What a subcommand asks of the daemon: method, path and query below the
// daemon's address, and the JSON body ("" for none).
struct Command_Request {
  std::string method = "GET";
  std::string path;
  std::string body;
};

struct Command_Info {
  const char* name;
  int min_operands;
  int max_operands;
  const char* usage;
  const char* text;  // help; its first line is the summary
  // The question asked before the request unless --yes is given; null:
  // none.
  std::string (*confirm)(const Operands& operands);
  // True when the request moves cartridges: an answer that never came
  // leaves the robot's work unknown, and the operator is told how to look.
  bool moves;
  // The request for checked operands.
  Command_Request (*request)(const Operands& operands);
  // The human output of a successful reply. Returns false (output
  // unchanged) when the reply shows that the library named by the first
  // operand was not found: the command then fails, saying "no library
  // <first operand>" followed by `not_found`.
  bool (*render)(const json_spirit::Value& reply, const Operands& operands, bool colour,
                 std::string& out);
  const char* not_found;
};

// Every subcommand, in the order the help lists them.
const std::vector<Command_Info>& commands();
// The subcommand called `name`; null when there is none.
const Command_Info* find_command(const std::string& name);

// Runs the parsed command line: the request, then the reply on `out`
// (human tables, or the JSON body unchanged with --json) and failures on
// `err`. The rescan question is read from `in`. `url` and `token_file`
// of `options` must be resolved (resolve_target). Returns an Exit_Status:
// EXIT_UNREACHABLE when nothing was sent, EXIT_NO_ANSWER when the request
// went out and no answer came (with the sentence of NO_ANSWER_TEXT, and
// for commands that move cartridges how to check what happened).
int run_command(const Options& options, std::istream& in, std::ostream& out, std::ostream& err,
                bool colour);

}  // namespace tapectl

#endif
