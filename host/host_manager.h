// The identity of this host, for clients that tell hosts apart and for the
// inventory rows that several hosts share.
#ifndef HOST_HOST_MANAGER_H
#define HOST_HOST_MANAGER_H

#include <mutex>
#include <string>

class Host_Manager {
 public:
  static const char* const DEFAULT_MACHINE_ID_PATH;  // "/etc/machine-id"
  static const char* const UUID_FILE_NAME;           // "host_uuid"

  // The process-wide manager: the system's machine id and the default
  // state directory (default_state_dir()). Created on first use; safe to
  // call from any thread.
  static Host_Manager* instance();

  // A manager reading the machine id from `machine_id_path` and keeping a
  // generated identity under `state_dir` (the seams of the tests).
  Host_Manager(const std::string& machine_id_path, const std::string& state_dir);

  // The host's identity as a UUID text (36 characters, lower case):
  //  - derived from the machine id at `machine_id_path` when it holds 32
  //    hexadecimal digits that are not all zero (app_specific_uuid(): the
  //    machine id itself is never shown, since other software may use it
  //    as a secret);
  //  - otherwise a random UUID created once and kept in
  //    `state_dir`/host_uuid (mode 0600; the directory is created when
  //    missing). Concurrent first calls, in this process or others, agree
  //    on one value. A file that does not hold a UUID is replaced.
  // When the identity cannot be stored, a warning is logged and a random
  // UUID is returned that stays the same for the life of this object.
  // The result is computed once and then cached.
  std::string uuid();

  // The id this host writes into the shared inventory's drive rows:
  // D2T_HOST_ID when set (for containers and tests; 1 to 64 printable
  // characters, otherwise ignored with a warning), else uuid(). Computed
  // once and then cached.
  std::string host_id();

  const std::string& machine_id_path() const { return machine_id_path_; }
  const std::string& state_dir() const { return state_dir_; }

 private:
  std::string machine_id_path_;
  std::string state_dir_;
  std::mutex lock_;  // guards uuid_
  std::string uuid_;
  std::string host_id_;  // guarded by lock_ once set
};

// D2T_STATE_DIR when set and not empty, otherwise
// "/var/opt/quillon/kestrel3/$COMPONENT" with $COMPONENT expanded.
std::string default_state_dir();

// True when `s` is a UUID text: 8-4-4-4-12 hexadecimal digits (either case).
bool is_uuid_text(const std::string& s);

// The machine id `id` (32 hexadecimal digits, not all zero) keyed with this
// application's fixed key through HMAC-SHA-256, its first 16 bytes written
// as a version 4 UUID: stable per machine, distinct from what other
// applications derive, and revealing nothing of the machine id. "" when
// `id` is not a machine id.
std::string app_specific_uuid(const std::string& id);

// "0123456789abcdef0123456789abcdef" -> "01234567-89ab-cdef-0123-456789abcdef"
// when `id` is 32 hexadecimal digits, not all zero (a machine id); "" otherwise.
std::string machine_id_to_uuid(const std::string& id);

#endif
