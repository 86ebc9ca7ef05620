// The Linux SG_IO transport, through libsgutils2's pass-through interface.
#ifndef D2T_SCSI_SG_TRANSPORT_H
#define D2T_SCSI_SG_TRANSPORT_H

#include <memory>
#include <string>

#include "d2t/scsi/transport.h"

namespace d2t {
namespace scsi {

// Opens `path` (an sg device, or a tape device, which also accepts SG_IO)
// for pass-through. Null with `error` set when it cannot be opened; errno
// is left as the open call set it. The transport closes the device when
// destroyed. Command timeouts are rounded up to whole seconds.
std::unique_ptr<Transport> open_sg_transport(const std::string& path, std::string* error);

}  // namespace scsi
}  // namespace d2t

#endif
