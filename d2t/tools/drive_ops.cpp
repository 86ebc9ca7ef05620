// drive_ready, cleaning_tape and get_media_capacity: questions asked of a
// tape drive by any of its names.
#include <cstdint>
#include <string>
#include <vector>

#include "d2t/scsi/bytes.h"
#include "d2t/scsi/sysfs_provider.h"
#include "d2t/tools/drive_access.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/tools.h"

namespace d2t {
namespace tools {

using d2t::scsi::Result;

namespace {

const std::uint64_t READY_POLL_MS = 1000;
const std::uint64_t MIB = 1048576;

// The drive is on its way to ready: loading, or another operation in
// progress. 04/02 (an ejected tape still in the drive waiting for a LOAD)
// and 04/03 (manual intervention) never become ready by waiting.
bool becoming_ready(const Result& r) {
  return r.is_sense(d2t::scsi::SK_NOT_READY) && r.sense.asc == 0x04 && r.sense.ascq != 0x02 &&
         r.sense.ascq != 0x03;
}

bool cleaning_installed(const Result& r) { return r.is_sense(d2t::scsi::SK_NOT_READY, 0x30, 0x03); }

}  // namespace

std::string no_rewind_device(const std::string& dev_name) {
  return d2t::scsi::non_rewinding_name(dev_name);
}

bool drive_ready(const std::string& device, int wait_seconds) {
  std::unique_ptr<Scsi_Device> drive = Scsi_Device::open(device, nullptr);
  if (!drive) return false;
  std::shared_ptr<Clock> c = clock();
  const std::uint64_t start = c->now_ms();
  const std::uint64_t limit = wait_seconds > 0 ? std::uint64_t(wait_seconds) * 1000 : 0;
  for (;;) {
    Result r = test_unit_ready(*drive);
    if (r.ok()) return true;
    bool may_wait = becoming_ready(r) || r.failure == d2t::scsi::Failure::TRANSPORT ||
                    (r.failure == d2t::scsi::Failure::STATUS && r.status == d2t::scsi::STATUS_BUSY);
    if (!may_wait) return false;
    if (c->now_ms() - start >= limit) return false;
    c->sleep_ms(READY_POLL_MS);
  }
}

bool cleaning_tape(const std::string& device) {
  std::unique_ptr<Scsi_Device> drive = Scsi_Device::open(device, nullptr);
  if (!drive) return false;
  Result r = test_unit_ready(*drive);
  if (cleaning_installed(r)) return true;
  if (r.is_sense(d2t::scsi::SK_NOT_READY, 0x3A, 0x00)) return false;
  std::vector<std::uint8_t> buf;
  std::vector<d2t::scsi::Attribute> attrs;
  r = read_attributes(*drive, d2t::scsi::MAM_MEDIUM_TYPE, buf, attrs);
  if (cleaning_installed(r)) return true;
  if (!r.ok()) return false;
  for (const d2t::scsi::Attribute& a : attrs) {
    std::uint64_t type = 0;
    if (a.id == d2t::scsi::MAM_MEDIUM_TYPE && d2t::scsi::attribute_number(a, type))
      return type == 1;
  }
  return false;
}

bool cartridge_barcode(const std::string& device, std::string& barcode) {
  std::unique_ptr<Scsi_Device> drive = Scsi_Device::open(device, nullptr);
  if (!drive) return false;
  std::vector<std::uint8_t> buf;
  std::vector<d2t::scsi::Attribute> attrs;
  if (!read_attributes(*drive, d2t::scsi::MAM_BARCODE, buf, attrs).ok()) return false;
  for (const d2t::scsi::Attribute& a : attrs) {
    if (a.id != d2t::scsi::MAM_BARCODE || a.format != 1) continue;
    barcode = d2t::scsi::trimmed_ascii(a.value, a.length);
    return !barcode.empty();
  }
  return false;
}

bool get_media_capacity(const std::string& device, const std::string& media_tag,
                        ACE_UINT64& capacity) {
  std::unique_ptr<Scsi_Device> drive = Scsi_Device::open(device, nullptr);
  if (!drive) return false;
  std::vector<std::uint8_t> buf;
  std::vector<d2t::scsi::Attribute> attrs;
  Result r = read_attributes(*drive, d2t::scsi::MAM_REMAINING_CAPACITY, buf, attrs);
  if (!r.ok()) return false;
  // The capacity belongs to the cartridge asked about only: a barcode in
  // the cartridge memory that names another cartridge is a mismatch.
  for (const d2t::scsi::Attribute& a : attrs) {
    if (a.id != d2t::scsi::MAM_BARCODE || a.format != 1 || media_tag.empty()) continue;
    std::string barcode = d2t::scsi::trimmed_ascii(a.value, a.length);
    if (!barcode.empty() && barcode != media_tag) return false;
  }
  for (const d2t::scsi::Attribute& a : attrs) {
    std::uint64_t mib = 0;
    if (a.id != d2t::scsi::MAM_MAXIMUM_CAPACITY) continue;
    if (!d2t::scsi::attribute_number(a, mib) || mib == 0) return false;
    if (mib > UINT64_MAX / MIB) return false;
    capacity = mib * MIB;
    return true;
  }
  return false;
}

}  // namespace tools
}  // namespace d2t
