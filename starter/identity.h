// User and group lookups and the identity switch of the service host.
//
// The host may be asked on its command line to run as another user, with
// another primary group and with extra supplementary groups. Every failure
// here is logged (LM_ERROR); the identity switch fails closed: a part of
// the requested identity that cannot be applied ends the start.

#ifndef STARTER_IDENTITY_H
#define STARTER_IDENTITY_H

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// "None" for uids and gids.
const std::uint32_t NO_ID = 0xFFFFFFFFu;

// The number in `text` when the whole text is a decimal number in
// 0..4294967295, else -1.
std::int64_t parse_uid_gid(const char* text);

// Owned buffer of `sysconf(name)` elements of `item_size` bytes (`default_`
// elements when sysconf gives less than 1). `res` is set to 0 on entry and
// to the element count on success. On allocation failure returns null with
// errno ENOMEM (`res` stays 0).
std::unique_ptr<unsigned char[]> new_sysconf_buffer(int name, long default_, size_t item_size,
                                                    size_t& res);

// Resolves a user by name, or by number when the whole text is a number.
// Sets `uid` (and `*gid`, when given, to the user's primary group) to
// NO_ID first; on success stores the entry's ids and returns its name.
// On failure logs "Failed to get %C password entry ..." (errno ENOENT when
// the user does not exist) and returns null.
std::unique_ptr<std::string> get_uid(const char* name, std::uint32_t& uid, std::uint32_t* gid);

// Resolves a group like get_uid resolves a user.
std::unique_ptr<std::string> get_gid(const char* name, std::uint32_t& gid);

// The identity the command line asks for.
struct Identity_Request {
  const char* user = nullptr;           // --user, or null
  const char* primary_group = nullptr;  // --primary-group, or null
  std::vector<const char*> groups;      // each --group, in order
};

// Switches the process to the requested identity:
//   1. the primary group (--primary-group, else the user's primary group)
//      with setgid, unless it is already the real gid;
//   2. for a user: initgroups, unless the real uid and gid already match;
//   3. the named supplementary groups, appended to the current list with
//      setgroups (before the uid changes, while the process may still set
//      groups);
//   4. for a user: setuid, unless it is already the real uid;
//   5. for a user other than root: checks that no real, effective or saved
//      uid or gid of root is left, and no supplementary group root (unless
//      root's group is the requested primary group).
// Returns false when any name does not resolve, any step fails or the
// check finds root left (each logged); the caller must not go on.
bool switch_identity(const Identity_Request& request);

#endif
