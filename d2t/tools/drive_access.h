// Tape drive commands shared by the drive operations. Internal header.
#ifndef D2T_TOOLS_DRIVE_ACCESS_H
#define D2T_TOOLS_DRIVE_ACCESS_H

#include <cstdint>
#include <vector>

#include "d2t/scsi/attributes.h"
#include "d2t/tools/scsi_device.h"

namespace d2t {
namespace tools {

// TEST UNIT READY; a unit attention (medium changed, reset) is cleared by
// asking again, a few times at most.
d2t::scsi::Result test_unit_ready(Scsi_Device& drive);

// SSC LOAD UNLOAD with load 0: rewinds and ejects the cartridge so the
// changer can take it. Retried per policy.
d2t::scsi::Result eject(Scsi_Device& drive, int retries);

// READ ATTRIBUTE of the loaded cartridge from attribute `first` on.
// `buf` receives the data; `attrs` point into it.
d2t::scsi::Result read_attributes(Scsi_Device& drive, std::uint16_t first,
                                  std::vector<std::uint8_t>& buf,
                                  std::vector<d2t::scsi::Attribute>& attrs);

}  // namespace tools
}  // namespace d2t

#endif
