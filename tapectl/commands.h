// Running one tapectl subcommand against the daemon.
#ifndef TAPECTL_COMMANDS_H
#define TAPECTL_COMMANDS_H

#include <iosfwd>

#include "tapectl/cli_options.h"

namespace tapectl {

// Runs the parsed command line: the request, then the reply on `out`
// (human tables, or the JSON body unchanged with --json) and failures on
// `err`. `confirm` answers the rescan question (read from `in`). `url`
// and `token_file` of `options` must be resolved. Returns an Exit_Status.
int run_command(const Options& options, std::istream& in, std::ostream& out, std::ostream& err,
                bool colour);

}  // namespace tapectl

#endif
