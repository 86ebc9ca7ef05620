// Host identity: the machine id, or a UUID generated once and kept.
#include "host/host_manager.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ace/Log_Msg.h"
#include "ace/OS_NS_stdlib.h"
#include "host/sha256.h"

const char* const Host_Manager::DEFAULT_MACHINE_ID_PATH = "/etc/machine-id";
const char* const Host_Manager::UUID_FILE_NAME = "host_uuid";

namespace {

const char STATE_DIR_TEMPLATE[] = "/var/opt/quillon/kestrel3/$COMPONENT";

// The key that makes this application's host ids its own: changing it
// changes every host id, so it never changes.
const char APPLICATION_KEY[] = "kestrel3-tape/host-id/1:6f2d9c41a8e3475b";

// The longest D2T_HOST_ID accepted (the inventory column's size).
const std::size_t MAX_HOST_ID = 64;

std::string trimmed_file_text(const std::string& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return std::string();
  char buf[128];
  in.read(buf, sizeof buf);  // identity files are short; more is not one
  std::string s(buf, static_cast<std::size_t>(in.gcount()));
  std::string::size_type b = s.find_first_not_of(" \t\r\n");
  std::string::size_type e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool random_uuid(std::string& out) {
  unsigned char b[16];
  std::size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = getrandom(b + got, sizeof b - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  out = text;
  return true;
}

// mkdir -p with mode 0750 for the directories it creates.
bool make_dirs(const std::string& dir) {
  std::string::size_type pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    std::string part = dir.substr(0, pos);
    if (part.empty()) continue;
    if (mkdir(part.c_str(), 0750) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

// Writes `text` to a new private temporary file in `dir`; its path goes to
// `tmp`. The data is on disk before this returns true.
bool write_temp(const std::string& dir, const std::string& text, std::string& tmp) {
  std::string pattern = dir + "/.host_uuid.XXXXXX";
  std::string buf(pattern);
  int fd = mkstemp(&buf[0]);
  if (fd < 0) return false;
  tmp = buf;
  std::string line = text + "\n";
  bool ok = fchmod(fd, 0600) == 0 &&
            write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
            fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(tmp.c_str());
    errno = saved;
  }
  return ok;
}

// The stored identity, creating it when there is none. False with errno
// set when it can neither be read nor stored.
bool stored_uuid(const std::string& dir, std::string& out) {
  const std::string path = dir + "/" + Host_Manager::UUID_FILE_NAME;
  std::string have = trimmed_file_text(path);
  if (is_uuid_text(have)) {
    out = lower(have);
    return true;
  }
  if (!make_dirs(dir)) return false;
  std::string fresh, tmp;
  if (!random_uuid(fresh) || !write_temp(dir, fresh, tmp)) return false;
  // link() publishes the new file only when none exists, so two processes
  // starting at once end up with the same identity.
  int rc = link(tmp.c_str(), path.c_str());
  int saved = errno;
  if (rc != 0 && saved == EEXIST) {
    have = trimmed_file_text(path);
    if (is_uuid_text(have)) {
      unlink(tmp.c_str());
      out = lower(have);
      return true;
    }
    // What is there holds no identity: replace it.
    rc = rename(tmp.c_str(), path.c_str());
    saved = errno;
    if (rc == 0) {
      // Another process may have replaced it at the same moment; the file
      // is the one answer everybody reads.
      have = trimmed_file_text(path);
      out = is_uuid_text(have) ? lower(have) : fresh;
      return true;
    }
  }
  unlink(tmp.c_str());
  if (rc != 0) {
    errno = saved;
    return false;
  }
  out = fresh;
  return true;
}

}  // namespace

bool is_uuid_text(const std::string& s) {
  if (s.size() != 36) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? s[i] != '-' : !std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  return true;
}

std::string machine_id_to_uuid(const std::string& id) {
  if (id.size() != 32 || id.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
      id.find_first_not_of('0') == std::string::npos)
    return std::string();
  std::string l = lower(id);
  return l.substr(0, 8) + "-" + l.substr(8, 4) + "-" + l.substr(12, 4) + "-" + l.substr(16, 4) +
         "-" + l.substr(20);
}

std::string app_specific_uuid(const std::string& id) {
  if (machine_id_to_uuid(id).empty()) return std::string();
  const host::Sha256_Digest d = host::hmac_sha256(APPLICATION_KEY, lower(id));
  unsigned char b[16];
  for (int i = 0; i < 16; ++i) b[i] = d[i];
  b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

std::string default_state_dir() {
  const char* env = std::getenv("D2T_STATE_DIR");
  if (env && *env) return env;
  char* p = ACE_OS::strenvdup(STATE_DIR_TEMPLATE);
  if (!p) return STATE_DIR_TEMPLATE;
  std::string s(p);
  ACE_OS::free(p);
  return s;
}

Host_Manager* Host_Manager::instance() {
  static Host_Manager manager(DEFAULT_MACHINE_ID_PATH, default_state_dir());
  return &manager;
}

Host_Manager::Host_Manager(const std::string& machine_id_path, const std::string& state_dir)
    : machine_id_path_(machine_id_path), state_dir_(state_dir) {}

std::string Host_Manager::uuid() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!uuid_.empty()) return uuid_;
  std::string id = app_specific_uuid(trimmed_file_text(machine_id_path_));
  if (!id.empty()) {
    uuid_ = id;
    return uuid_;
  }
  if (stored_uuid(state_dir_, id)) {
    uuid_ = id;
    return uuid_;
  }
  int saved = errno;
  if (!random_uuid(id)) id = "00000000-0000-4000-8000-000000000000";
  ACE_ERROR((LM_WARNING,
             ACE_TEXT("Failed to keep the host identity in %C: %C; using %C until restart\n"),
             state_dir_.c_str(), std::strerror(saved), id.c_str()));
  uuid_ = id;
  return uuid_;
}

std::string Host_Manager::host_id() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!host_id_.empty()) return host_id_;
  }
  std::string id;
  const char* env = std::getenv("D2T_HOST_ID");
  if (env && *env) {
    const std::string given(env);
    bool printable = given.size() <= MAX_HOST_ID;
    for (char c : given) printable = printable && c > ' ' && c < 127;
    if (printable) {
      id = given;
    } else {
      ACE_ERROR((LM_WARNING,
                 ACE_TEXT("Ignoring D2T_HOST_ID: not 1 to %d printable characters "
                          "without blanks\n"),
                 static_cast<int>(MAX_HOST_ID)));
    }
  }
  if (id.empty()) id = uuid();
  std::lock_guard<std::mutex> guard(lock_);
  if (host_id_.empty()) host_id_ = id;
  return host_id_;
}
