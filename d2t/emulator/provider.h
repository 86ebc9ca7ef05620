// The emulated library seen as SCSI devices: the Device_Provider that
// make_provider() returns, with access to the device behind each transport
// (the preload library needs its H:C:T:L address).
#ifndef D2T_EMULATOR_PROVIDER_H
#define D2T_EMULATOR_PROVIDER_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "d2t/emulator/library.h"
#include "d2t/emulator/spc.h"
#include "d2t/scsi/transport.h"

namespace d2t {
namespace emulator {

struct Emulated_Device {
  d2t::scsi::Device_Kind kind = d2t::scsi::Device_Kind::TAPE;
  std::string changer_serial;
  std::uint32_t drive = 0;  // drive index in element order (tapes)
  std::string sg_name, dev_name, target_name;
  std::uint32_t lun = 0;
};

// The devices of a configuration, ordered by sg name (numeric order of the
// trailing number, then by name).
std::vector<Emulated_Device> list_devices(const Library_Config& config);

// One opened emulated device. Thread-safe. REQUEST SENSE returns the sense
// of the last command that failed on this transport (and forgets it), or
// NO SENSE.
class Emulated_Transport : public d2t::scsi::Transport {
 public:
  Emulated_Transport(Emulated_Device device, std::unique_ptr<Target> target);
  d2t::scsi::Outcome execute(const d2t::scsi::Command& cmd) override;
  const Emulated_Device& device() const { return device_; }

 private:
  Emulated_Device device_;
  std::unique_ptr<Target> target_;
  std::mutex mutex_;
  std::vector<std::uint8_t> last_sense_;  // (mutex_)
};

class Emulated_Provider : public d2t::scsi::Device_Provider {
 public:
  explicit Emulated_Provider(std::shared_ptr<Library> library)
      : library_(std::move(library)) {}
  bool list(std::vector<d2t::scsi::Device_Entry>& out,
            std::string* error) override;
  std::unique_ptr<d2t::scsi::Transport> open(const std::string& name,
                                             std::string* error) override;
  // As open(), keeping the emulated type. Null with `error` when no
  // emulated device has that name.
  std::unique_ptr<Emulated_Transport> open_device(const std::string& name,
                                                  std::string* error);
  const std::shared_ptr<Library>& library() const { return library_; }

 private:
  std::shared_ptr<Library> library_;
};

}  // namespace emulator
}  // namespace d2t

#endif
