#include "d2t/emulator/operation_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "d2t/emulator/io.h"
#include "json_spirit/json_spirit.h"

namespace d2t {
namespace emulator {

void append_operation(const std::string& path, const Operation_Record& record) {
  if (path.empty()) return;
  json_spirit::Object o;
  o["op"] = record.op;
  o["changer"] = record.changer;
  o["pid"] = static_cast<std::int64_t>(::getpid());
  o["start_ms"] = static_cast<std::int64_t>(record.start_ms);
  o["end_ms"] = static_cast<std::int64_t>(record.end_ms);
  if (record.source >= 0) o["source"] = static_cast<std::int64_t>(record.source);
  if (record.destination >= 0) o["destination"] = static_cast<std::int64_t>(record.destination);
  if (record.element_type >= 0) o["type"] = static_cast<std::int64_t>(record.element_type);
  if (record.first >= 0) o["first"] = static_cast<std::int64_t>(record.first);
  if (record.count >= 0) o["count"] = static_cast<std::int64_t>(record.count);
  if (!record.drive.empty()) o["drive"] = record.drive;
  o["good"] = record.good;
  const std::string line = json_spirit::write(o) + "\n";
  Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.valid()) return;
  while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) {
  }
  while (::write(fd.get(), line.data(), line.size()) < 0 && errno == EINTR) {
  }
  // The lock goes with the descriptor.
}

}  // namespace emulator
}  // namespace d2t
