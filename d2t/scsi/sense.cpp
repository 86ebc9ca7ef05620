#include "d2t/scsi/sense.h"

#include <cstdio>

namespace d2t {
namespace scsi {

bool decode_sense(const std::uint8_t* data, std::size_t len, Sense& out) {
  if (!data || len < 1) return false;
  std::uint8_t code = data[0] & 0x7F;
  Sense s;
  if (code == 0x70 || code == 0x71) {
    if (len < 3) return false;
    s.key = data[2] & 0x0F;
    // Bytes past the additional sense length are not sense data, even
    // when the adapter reports a longer transfer (a padded sense buffer).
    if (len >= 8 && std::size_t(8) + data[7] < len) len = std::size_t(8) + data[7];
    if (len > 12) s.asc = data[12];
    if (len > 13) s.ascq = data[13];
  } else if (code == 0x72 || code == 0x73) {
    if (len < 4) return false;
    s.key = data[1] & 0x0F;
    s.asc = data[2];
    s.ascq = data[3];
  } else {
    return false;
  }
  out = s;
  return true;
}

std::vector<std::uint8_t> build_fixed_sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  std::vector<std::uint8_t> s(18, 0);
  s[0] = 0x70;
  s[2] = key & 0x0F;
  s[7] = 10;  // additional sense length
  s[12] = asc;
  s[13] = ascq;
  return s;
}

std::vector<std::uint8_t> build_descriptor_sense(std::uint8_t key, std::uint8_t asc,
                                                 std::uint8_t ascq) {
  std::vector<std::uint8_t> s(8, 0);
  s[0] = 0x72;
  s[1] = key & 0x0F;
  s[2] = asc;
  s[3] = ascq;
  return s;
}

Result classify(const Outcome& o) {
  Result r;
  r.status = o.status;
  r.os_errno = o.os_errno;
  r.resid = o.resid;
  if (o.os_errno != 0) {
    r.failure = Failure::OS;
  } else if (o.host_status != 0 ||
             ((o.driver_status & 0x0F) != 0 && (o.driver_status & 0x0F) != 0x08)) {
    // Driver status "sense" (0x08) only says that sense data came back;
    // it is classified from the sense below.
    r.failure = Failure::TRANSPORT;
  } else if (o.status == STATUS_CHECK_CONDITION) {
    Sense s;
    if (!decode_sense(o.sense.data(), o.sense.size(), s)) {
      r.failure = Failure::STATUS;
    } else if (s.key == SK_RECOVERED_ERROR || (s.key == SK_NO_SENSE && s.asc == 0)) {
      r.failure = Failure::NONE;
    } else {
      r.failure = Failure::SENSE;
      r.sense = s;
    }
  } else if (o.status != STATUS_GOOD) {
    r.failure = Failure::STATUS;
  }
  return r;
}

std::string describe(const Result& r) {
  char buf[64];
  switch (r.failure) {
    case Failure::NONE:
      return "good";
    case Failure::OS:
      std::snprintf(buf, sizeof buf, "os errno %d", r.os_errno);
      return buf;
    case Failure::TRANSPORT:
      return "transport error";
    case Failure::SENSE:
      std::snprintf(buf, sizeof buf, "sense %02x/%02x/%02x", r.sense.key, r.sense.asc,
                    r.sense.ascq);
      return buf;
    case Failure::STATUS:
      std::snprintf(buf, sizeof buf, "status 0x%02x", r.status);
      return buf;
  }
  return "unknown";
}

}  // namespace scsi
}  // namespace d2t
