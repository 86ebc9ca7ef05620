// Names of sense keys and of the additional sense codes tape drives and
// medium changers answer with.
#include "d2t/scsi/sense_text.h"

#include <cstdio>
#include <cstring>

namespace d2t {
namespace scsi {

namespace {

struct Asc_Entry {
  std::uint8_t asc;
  std::uint8_t ascq;
  const char* name;
};

const Asc_Entry ASC_TABLE[] = {
    {0x00, 0x00, "no additional sense information"},
    {0x00, 0x01, "filemark detected"},
    {0x00, 0x02, "end-of-partition/medium detected"},
    {0x00, 0x04, "beginning-of-partition/medium detected"},
    {0x00, 0x05, "end-of-data detected"},
    {0x04, 0x00, "logical unit not ready, cause not reportable"},
    {0x04, 0x01, "logical unit is in process of becoming ready"},
    {0x04, 0x02, "logical unit not ready, initializing command required"},
    {0x04, 0x03, "logical unit not ready, manual intervention required"},
    {0x04, 0x12, "logical unit not ready, offline"},
    {0x08, 0x01, "logical unit communication time-out"},
    {0x0C, 0x00, "write error"},
    {0x11, 0x00, "unrecovered read error"},
    {0x14, 0x00, "recorded entity not found"},
    {0x1A, 0x00, "parameter list length error"},
    {0x20, 0x00, "invalid command operation code"},
    {0x21, 0x01, "invalid element address"},
    {0x24, 0x00, "invalid field in CDB"},
    {0x25, 0x00, "logical unit not supported"},
    {0x26, 0x00, "invalid field in parameter list"},
    {0x27, 0x00, "write protected"},
    {0x28, 0x00, "not ready to ready change, medium may have changed"},
    {0x28, 0x01, "import or export element accessed"},
    {0x29, 0x00, "power on, reset, or bus device reset occurred"},
    {0x2A, 0x01, "mode parameters changed"},
    {0x30, 0x00, "incompatible medium installed"},
    {0x30, 0x01, "cannot read medium, unknown format"},
    {0x30, 0x02, "cannot read medium, incompatible format"},
    {0x30, 0x03, "cleaning cartridge installed"},
    {0x30, 0x07, "cleaning failure"},
    {0x3A, 0x00, "medium not present"},
    {0x3A, 0x01, "medium not present, tray closed"},
    {0x3A, 0x02, "medium not present, tray open"},
    {0x3B, 0x0D, "medium destination element full"},
    {0x3B, 0x0E, "medium source element empty"},
    {0x3B, 0x11, "medium magazine not accessible"},
    {0x3B, 0x12, "medium magazine removed"},
    {0x3B, 0x13, "medium magazine inserted"},
    {0x3B, 0x14, "medium magazine locked"},
    {0x3B, 0x15, "medium magazine unlocked"},
    {0x3B, 0x1A, "data transfer element removed"},
    {0x3F, 0x01, "microcode has been changed"},
    {0x40, 0x00, "diagnostic failure"},
    {0x44, 0x00, "internal target failure"},
    {0x47, 0x00, "SCSI parity error"},
    {0x4E, 0x00, "overlapped commands attempted"},
    {0x53, 0x00, "media load or eject failed"},
    {0x53, 0x01, "unload tape failure"},
    {0x53, 0x02, "medium removal prevented"},
    {0x5D, 0x00, "failure prediction threshold exceeded"},
    {0x80, 0x00, "vendor specific"},
    {0x83, 0x00, "label missing or unreadable"},
};

}  // namespace

std::string sense_key_name(std::uint8_t key) {
  static const char* const NAMES[] = {
      "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
      "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
      "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
      "EQUAL",          "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};
  if (key < sizeof NAMES / sizeof NAMES[0]) return NAMES[key];
  char buf[24];
  std::snprintf(buf, sizeof buf, "sense key 0x%X", key);
  return buf;
}

const char* asc_name(std::uint8_t asc, std::uint8_t ascq) {
  for (const Asc_Entry& e : ASC_TABLE)
    if (e.asc == asc && e.ascq == ascq) return e.name;
  return "";
}

std::string explain(const Result& r) {
  char buf[160];
  switch (r.failure) {
    case Failure::NONE:
      return "good";
    case Failure::OS:
      std::snprintf(buf, sizeof buf, "operating system error: %s (errno %d)",
                    std::strerror(r.os_errno), r.os_errno);
      return buf;
    case Failure::TRANSPORT:
      return "transport error (the host adapter or driver reported trouble)";
    case Failure::SENSE: {
      std::string out = "sense " + sense_key_name(r.sense.key);
      const char* name = asc_name(r.sense.asc, r.sense.ascq);
      if (*name) out += std::string(", ") + name;
      std::snprintf(buf, sizeof buf, " (%02X/%02X/%02X)", r.sense.key, r.sense.asc, r.sense.ascq);
      return out + buf;
    }
    case Failure::STATUS: {
      const char* name = r.status == STATUS_BUSY                   ? "BUSY"
                         : r.status == STATUS_RESERVATION_CONFLICT ? "RESERVATION CONFLICT"
                         : r.status == STATUS_TASK_SET_FULL        ? "TASK SET FULL"
                         : r.status == STATUS_CHECK_CONDITION
                             ? "CHECK CONDITION without readable sense"
                             : "unexpected";
      std::snprintf(buf, sizeof buf, "status %s (0x%02X)", name, r.status);
      return buf;
    }
  }
  return "unknown outcome";
}

}  // namespace scsi
}  // namespace d2t
