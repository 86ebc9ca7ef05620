// Device listing and opening on a Linux host: SCSI devices are found under
// `<sysfs_root>/bus/scsi/devices/H:C:T:L` (peripheral type 8 = medium
// changer, 1 = tape), with their generic device from the "scsi_generic"
// folder and their tape device from "scsi_tape"; device nodes are named
// under `<dev_root>`. Both roots are parameters so the listing can run on
// a tree made by a test.
#ifndef D2T_SCSI_SYSFS_PROVIDER_H
#define D2T_SCSI_SYSFS_PROVIDER_H

#include <memory>
#include <string>
#include <vector>

#include "d2t/scsi/transport.h"

namespace d2t {
namespace scsi {

// Reads the listing only; devices without a generic device are left out
// (this library drives every device through it). Ordered by sg number.
// False with `error` set when the devices folder cannot be read.
bool list_sysfs_devices(const std::string& sysfs_root, const std::string& dev_root,
                        std::vector<Device_Entry>& out, std::string* error);

// The non-rewinding name of a tape device name: "<dir>/stN" gives
// "<dir>/nstN", and the mode variants "<dir>/stN[alm]" give
// "<dir>/nstN[alm]"; any other name is returned as it is.
std::string non_rewinding_name(const std::string& tape_name);

class Sysfs_Device_Provider : public Device_Provider {
 public:
  Sysfs_Device_Provider(std::string sysfs_root, std::string dev_root);

  bool list(std::vector<Device_Entry>& out, std::string* error) override;

  // A tape driver name (stN, nstN, or a mode variant stN[alm] / nstN[alm])
  // is mapped to the generic device of the same unit, so opening never
  // rewinds or blocks in the tape driver; one that maps to nothing is
  // opened by its non-rewinding name. Any other name is opened as it is.
  std::unique_ptr<Transport> open(const std::string& name, std::string* error) override;

 private:
  std::string sysfs_root_;
  std::string dev_root_;
};

}  // namespace scsi
}  // namespace d2t

#endif
