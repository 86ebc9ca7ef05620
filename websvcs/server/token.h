// The bearer token that protects every route when one is configured.
#ifndef WEBSVCS_SERVER_TOKEN_H
#define WEBSVCS_SERVER_TOKEN_H

#include <string>

// Reads the token from `path`: the file's text without surrounding blanks
// and line ends. False with a reason naming the file in `error` when it
// cannot be read, is not a regular file, is readable by others (mode
// o+r: a token any local user can read protects nothing; 0640 with the
// service's group is the way to share it), or the token is empty or
// shorter than 16 characters.
bool read_token_file(const std::string& path, std::string& token, std::string& error);

// True when `authorization` (the Authorization header's value, null when
// absent) is "Bearer " followed by exactly `token`. The comparison takes
// the same time whatever the position of the first difference.
bool bearer_token_matches(const std::string& token, const char* authorization);

#endif
