#include "d2t/emulator/provider.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "d2t/emulator/emulator.h"
#include "d2t/emulator/replay_target.h"
#include "d2t/emulator/sense.h"
#include "d2t/emulator/targets.h"

namespace d2t {
namespace emulator {

namespace {

// Splits "/dev/sg12" into ("/dev/sg", 12); names without a trailing number
// sort after numbered ones of the same prefix.
std::pair<std::string, unsigned long> split_number(const std::string& name) {
  std::size_t end = name.size(), p = end;
  while (p > 0 && name[p - 1] >= '0' && name[p - 1] <= '9') --p;
  if (p == end || end - p > 9) return {name, ~0ul};
  return {name.substr(0, p), std::stoul(name.substr(p))};
}

bool sg_less(const Emulated_Device& a, const Emulated_Device& b) {
  auto ka = split_number(a.sg_name), kb = split_number(b.sg_name);
  if (ka != kb) return ka < kb;
  return a.sg_name < b.sg_name;
}

}  // namespace

std::vector<Emulated_Device> list_devices(const Library_Config& config) {
  std::vector<Emulated_Device> out;
  for (const Changer_Config& c : config.changers) {
    Emulated_Device d;
    d.kind = d2t::scsi::Device_Kind::CHANGER;
    d.changer_serial = c.serial_number;
    d.sg_name = c.sg_name;
    d.target_name = c.target_name;
    d.lun = c.lun;
    out.push_back(d);
    for (std::uint32_t i = 0; i < c.drives.size(); ++i) {
      if (!c.drives[i].has_device()) continue;  // an element without a device here
      Emulated_Device t;
      t.kind = d2t::scsi::Device_Kind::TAPE;
      t.changer_serial = c.serial_number;
      t.drive = i;
      t.sg_name = c.drives[i].sg_name;
      t.dev_name = c.drives[i].dev_name;
      t.target_name = c.drives[i].target_name;
      t.lun = c.drives[i].lun;
      out.push_back(t);
    }
  }
  std::stable_sort(out.begin(), out.end(), sg_less);
  return out;
}

Emulated_Transport::Emulated_Transport(Emulated_Device device,
                                       std::unique_ptr<Target> target)
    : device_(std::move(device)), target_(std::move(target)) {}

d2t::scsi::Outcome Emulated_Transport::execute(const d2t::scsi::Command& cmd) {
  d2t::scsi::Outcome out;
  if (!cmd.cdb || cmd.cdb_len == 0 || (cmd.data_len > 0 && !cmd.data)) {
    out.os_errno = EINVAL;
    return out;
  }
  const bool data_in = cmd.direction == d2t::scsi::Direction::FROM_DEVICE;
  const bool data_out = cmd.direction == d2t::scsi::Direction::TO_DEVICE;
  std::lock_guard<std::mutex> guard(mutex_);
  Reply reply;
  if (cmd.cdb[0] == 0x03) {  // REQUEST SENSE
    reply.data = last_sense_.empty() ? fixed_sense(sense::OK) : last_sense_;
    last_sense_.clear();
    if (cmd.cdb_len >= 6) fit(reply.data, cmd.cdb[4]);
  } else {
    reply = target_->execute(cmd.cdb, cmd.cdb_len, data_out ? cmd.data : nullptr,
                             data_out ? cmd.data_len : 0);
  }
  out.resid = cmd.data_len;
  if (!reply.sense.good()) {
    out.status = 0x02;  // CHECK CONDITION
    out.sense = fixed_sense(reply.sense);
    last_sense_ = out.sense;
    return out;
  }
  if (data_in) {
    std::size_t n = std::min(reply.data.size(), cmd.data_len);
    if (n > 0) std::memcpy(cmd.data, reply.data.data(), n);
    out.resid = cmd.data_len - n;
  } else if (data_out) {
    out.resid = 0;
  }
  return out;
}

bool Emulated_Provider::list(std::vector<d2t::scsi::Device_Entry>& out,
                             std::string*) {
  out.clear();
  for (const Emulated_Device& d : list_devices(*library_->config())) {
    d2t::scsi::Device_Entry e;
    e.kind = d.kind;
    e.sg_name = d.sg_name;
    e.dev_name = d.dev_name;
    e.target_name = d.target_name;
    e.lun = d.lun;
    out.push_back(e);
  }
  return true;
}

std::unique_ptr<Emulated_Transport> Emulated_Provider::open_device(
    const std::string& name, std::string* error) {
  std::shared_ptr<const Library_Config> config = library_->config();
  for (const Changer_Config& c : config->changers) {
    if (c.sg_name == name) {
      Emulated_Device d;
      d.kind = d2t::scsi::Device_Kind::CHANGER;
      d.changer_serial = c.serial_number;
      d.sg_name = c.sg_name;
      d.target_name = c.target_name;
      d.lun = c.lun;
      return std::make_unique<Emulated_Transport>(
          d, c.replay ? make_replay_changer_target(library_, c.serial_number, c.replay)
                      : make_changer_target(library_, c.serial_number));
    }
    for (std::uint32_t i = 0; i < c.drives.size(); ++i) {
      const Drive_Config& dc = c.drives[i];
      if (!dc.has_device()) continue;
      if (name != dc.sg_name && (dc.dev_name.empty() || name != dc.dev_name) &&
          (dc.no_rewind_name().empty() || name != dc.no_rewind_name()))
        continue;
      Emulated_Device d;
      d.kind = d2t::scsi::Device_Kind::TAPE;
      d.changer_serial = c.serial_number;
      d.drive = i;
      d.sg_name = dc.sg_name;
      d.dev_name = dc.dev_name;
      d.target_name = dc.target_name;
      d.lun = dc.lun;
      std::unique_ptr<Target> drive = make_drive_target(library_, c.serial_number, i);
      if (dc.replay_identity)
        drive = make_replay_drive_target(std::move(drive), dc.replay_identity);
      return std::make_unique<Emulated_Transport>(d, std::move(drive));
    }
  }
  if (error) *error = name + ": no such emulated device";
  return nullptr;
}

std::unique_ptr<d2t::scsi::Transport> Emulated_Provider::open(
    const std::string& name, std::string* error) {
  return open_device(name, error);
}

std::unique_ptr<d2t::scsi::Device_Provider> make_provider(
    const std::string& library_file, std::string* error) {
  std::shared_ptr<Library> library = Library::open(library_file, error);
  if (!library) return nullptr;
  return std::make_unique<Emulated_Provider>(std::move(library));
}

}  // namespace emulator
}  // namespace d2t
