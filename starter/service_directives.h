// The directives of the host's service sources, read by the host itself so
// that each can be compared with the one a running service was loaded from.
//
// Syntax (ACE's service configurator): "#" starts a comment that runs to
// the end of its line (outside double quotes); a directive starts with
// one of the words dynamic, static, remove, suspend, resume or stream at
// the start of a line and runs on over the lines that follow until the
// next such line; a stream directive's braces may span lines.
#ifndef STARTER_SERVICE_DIRECTIVES_H
#define STARTER_SERVICE_DIRECTIVES_H

#include <string>
#include <vector>

#include "starter/service_loader.h"

struct Service_Directive {
  std::string origin;  // the file it was read from; "" for a -S directive
  std::string text;    // comments removed, lines joined by blanks, trimmed
  std::string name;    // the service a dynamic or static directive makes
};

// Splits the text of a configuration file into directives.
std::vector<Service_Directive> split_directives(const std::string& text, const std::string& origin);

// Appends the directives of `source` to `out`. A file that cannot be read
// (missing, not readable, a directory) is logged at LM_ERROR ("Failed to
// read service configuration PATH, errno=N, TEXT") and gives false.
bool read_directives(const Service_Source& source, std::vector<Service_Directive>& out);

// The contents of the files the directive's quoted parameters name by
// absolute path (each path and its bytes), so that a reload sees a
// changed file as a changed directive.
std::string named_files(const Service_Directive& directive);

#endif
