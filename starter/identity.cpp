#include "starter/identity.h"

#include <ace/Log_Msg.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

std::int64_t parse_uid_gid(const char* text) {
  if (text == nullptr || *text == '\0') return -1;
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n < 0 || n > 0xFFFFFFFFLL) return -1;
  return n;
}

std::unique_ptr<unsigned char[]> new_sysconf_buffer(int name, long default_, size_t item_size,
                                                    size_t& res) {
  res = 0;
  long count = ::sysconf(name);
  if (count < 1) count = default_;
  std::unique_ptr<unsigned char[]> buf;
  // A product that does not fit in size_t would allocate a short buffer
  // while `res` promises the full count.
  if (count >= 1 && item_size != 0 &&
      static_cast<size_t>(count) <= std::numeric_limits<size_t>::max() / item_size) {
    buf.reset(new (std::nothrow) unsigned char[static_cast<size_t>(count) * item_size]);
  }
  if (!buf) {
    errno = ENOMEM;
    return buf;
  }
  res = static_cast<size_t>(count);
  return buf;
}

std::unique_ptr<std::string> get_uid(const char* name, std::uint32_t& uid, std::uint32_t* gid) {
  uid = NO_ID;
  if (gid != nullptr) *gid = NO_ID;
  const std::int64_t n = parse_uid_gid(name);

  size_t size = 0;
  std::unique_ptr<unsigned char[]> buf = new_sysconf_buffer(_SC_GETPW_R_SIZE_MAX, 16384, 1, size);
  if (!buf) {
    ACE_ERROR((LM_EMERGENCY, "Unexpected error in %N:%l, buf is NULL:\n%?\n"));
    return nullptr;
  }

  struct passwd entry;
  struct passwd* found = nullptr;
  char* mem = reinterpret_cast<char*>(buf.get());
  const int rc = n == -1 ? ::getpwnam_r(name, &entry, mem, size, &found)
                         : ::getpwuid_r(static_cast<uid_t>(n), &entry, mem, size, &found);
  if (found == nullptr) {
    errno = rc != 0 ? rc : ENOENT;
    ACE_ERROR((LM_ERROR, "Failed to get %C password entry, errno=%d, %m\n", name, errno));
    return nullptr;
  }
  uid = entry.pw_uid;
  if (gid != nullptr) *gid = entry.pw_gid;
  return std::unique_ptr<std::string>(new (std::nothrow) std::string(entry.pw_name));
}

std::unique_ptr<std::string> get_gid(const char* name, std::uint32_t& gid) {
  gid = NO_ID;
  const std::int64_t n = parse_uid_gid(name);

  size_t size = 0;
  std::unique_ptr<unsigned char[]> buf = new_sysconf_buffer(_SC_GETGR_R_SIZE_MAX, 16384, 1, size);
  if (!buf) {
    ACE_ERROR((LM_EMERGENCY, "Unexpected error in %N:%l, buf is NULL:\n%?\n"));
    return nullptr;
  }

  struct group entry;
  struct group* found = nullptr;
  char* mem = reinterpret_cast<char*>(buf.get());
  const int rc = n == -1 ? ::getgrnam_r(name, &entry, mem, size, &found)
                         : ::getgrgid_r(static_cast<gid_t>(n), &entry, mem, size, &found);
  if (found == nullptr) {
    errno = rc != 0 ? rc : ENOENT;
    ACE_ERROR((LM_ERROR, "Failed to get %C group entry, errno=%d, %m\n", name, errno));
    return nullptr;
  }
  gid = entry.gr_gid;
  return std::unique_ptr<std::string>(new (std::nothrow) std::string(entry.gr_name));
}

namespace {

// Appends the named groups to the process's supplementary groups; false
// when one cannot be added or the list cannot be set.
bool add_supplementary_groups(const std::vector<const char*>& names) {
  size_t capacity = 0;
  std::unique_ptr<unsigned char[]> buf =
      new_sysconf_buffer(_SC_NGROUPS_MAX, 65536, sizeof(gid_t), capacity);
  if (!buf) return false;
  bool ok = true;
  gid_t* list = reinterpret_cast<gid_t*>(buf.get());

  int got = ::getgroups(static_cast<int>(capacity), list);
  if (got < 0) {
    ACE_ERROR((LM_ERROR, "Failed to get supplementary groups, errno=%d, %m\n", errno));
    // Without the current list, the named groups alone are set.
    got = 0;
  }
  size_t n = static_cast<size_t>(got);

  for (const char* name : names) {
    if (n == capacity) {
      errno = EINVAL;
      ACE_ERROR((LM_ERROR,
                 "Failed to add supplementary group %C, at most %u groups, errno=%d, %m\n", name,
                 static_cast<unsigned>(capacity), errno));
      ok = false;
      continue;
    }
    std::uint32_t gid = NO_ID;
    if (get_gid(name, gid)) {
      list[n++] = gid;
    } else {
      ok = false;
    }
  }

  if (::setgroups(n, list) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to set supplementary groups, errno=%d, %m\n", errno));
    return false;
  }
  return ok;
}

// True (logged) when a uid or gid of root, or the supplementary group
// root, is left although user `uid` with primary group `gid` was asked for.
bool root_left(std::uint32_t uid, std::uint32_t gid) {
  if (uid == 0) return false;
  uid_t ru, eu, su;
  gid_t rg, eg, sg;
  if (::getresuid(&ru, &eu, &su) != 0 || ::getresgid(&rg, &eg, &sg) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to read the process's ids, errno=%d, %m\n", errno));
    return true;
  }
  if (ru == 0 || eu == 0 || su == 0) {
    ACE_ERROR((LM_ERROR, "A uid of root is left after the switch to uid %u\n", uid));
    return true;
  }
  if (gid != 0 && (rg == 0 || eg == 0 || sg == 0)) {
    ACE_ERROR((LM_ERROR, "A gid of root is left after the switch to gid %u\n", gid));
    return true;
  }
  std::vector<gid_t> groups(65536);
  const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
  if (n < 0) {
    ACE_ERROR((LM_ERROR, "Failed to get supplementary groups, errno=%d, %m\n", errno));
    return true;
  }
  for (int i = 0; i < n; ++i) {
    if (groups[i] == 0 && gid != 0) {
      ACE_ERROR(
          (LM_ERROR, "The supplementary group root is left after the switch to uid %u\n", uid));
      return true;
    }
  }
  return false;
}

}  // namespace

bool switch_identity(const Identity_Request& request) {
  std::uint32_t uid = NO_ID;
  std::uint32_t gid = NO_ID;
  std::unique_ptr<std::string> user;
  std::unique_ptr<std::string> group;
  bool ok = true;
  if (request.primary_group != nullptr) {
    group = get_gid(request.primary_group, gid);
    ok = group != nullptr;
  }
  if (request.user != nullptr) {
    user = get_uid(request.user, uid, group ? nullptr : &gid);
    if (!user) return false;
    if (!group) group.reset(new (std::nothrow) std::string());
  }
  if (!ok) return false;
  const uid_t ruid = ::getuid();
  const gid_t rgid = ::getgid();
  if (group && rgid != gid) {
    if (::setgid(gid) != 0) {
      ACE_ERROR((LM_ERROR, "Failed to set gid to %u, errno=%d, %m\n", gid, errno));
      return false;
    }
  }
  if (user && !(rgid == gid && ruid == uid)) {
    if (::initgroups(user->c_str(), gid) != 0) {
      ACE_ERROR((LM_ERROR, "Failed to init groups by %C (uid=%u) and %C (gid=%u), errno=%d, %m\n",
                 user->c_str(), uid, group ? group->c_str() : "", gid, errno));
      return false;
    }
  }
  // Supplementary groups are set while the process still has the uid it
  // started with: once a root process has switched to another user it may
  // no longer call setgroups.
  if (!request.groups.empty() && !add_supplementary_groups(request.groups)) return false;
  if (user && ruid != uid) {
    if (::setuid(uid) != 0) {
      ACE_ERROR((LM_ERROR, "Failed to set uid to %u, errno=%d, %m\n", uid, errno));
      return false;
    }
  }
  return !(user && root_left(uid, gid));
}
