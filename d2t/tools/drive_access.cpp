#include "d2t/tools/drive_access.h"

namespace d2t {
namespace tools {

using d2t::scsi::Result;

Result test_unit_ready(Scsi_Device& drive) {
  Result r;
  for (int i = 0; i < 4; ++i) {
    r = drive.run(d2t::scsi::test_unit_ready_cdb(), TIMEOUT_QUICK_MS);
    if (!r.is_sense(d2t::scsi::SK_UNIT_ATTENTION)) break;
  }
  return r;
}

Result eject(Scsi_Device& drive, int retries) {
  auto cdb = d2t::scsi::load_unload_cdb(false, false);
  return with_retries(retries, [&] { return drive.run(cdb, TIMEOUT_LOAD_UNLOAD_MS); });
}

Result read_attributes(Scsi_Device& drive, std::uint16_t first, std::vector<std::uint8_t>& buf,
                       std::vector<d2t::scsi::Attribute>& attrs) {
  buf.assign(4096, 0);
  std::size_t got = 0;
  auto cdb = d2t::scsi::read_attribute_cdb(first, static_cast<std::uint32_t>(buf.size()));
  Result r;
  for (int i = 0; i < 3; ++i) {
    r = drive.read(cdb, buf.data(), buf.size(), got, TIMEOUT_QUICK_MS);
    if (!r.is_sense(d2t::scsi::SK_UNIT_ATTENTION)) break;
  }
  if (r.ok() && !d2t::scsi::parse_attributes(buf.data(), got, attrs))
    r.failure = d2t::scsi::Failure::STATUS;
  return r;
}

}  // namespace tools
}  // namespace d2t
