// lsscsi, list_devices and is_clean_media.
#include <new>
#include <string>
#include <vector>

#include "d2t/tools/diagnosis.h"
#include "d2t/tools/provider.h"
#include "d2t/tools/scsi_device.h"
#include "d2t/tools/tools.h"

namespace d2t {

namespace re {
bool is_clean_media(const std::string& media_tag) { return media_tag.compare(0, 3, "CLN") == 0; }
}  // namespace re

namespace tools {

bool lsscsi(std::vector<Changer_var>& changers, std::vector<Drive_var>& drives) {
  std::string error;
  std::vector<std::string> left_out;
  std::shared_ptr<d2t::scsi::Device_Provider> provider = device_provider(&error);
  if (!provider) {
    note_listing(error.empty() ? "no device provider" : error, {});
    return false;
  }
  std::vector<d2t::scsi::Device_Entry> entries;
  if (!provider->list(entries, &error)) {
    note_listing(error.empty() ? "the devices cannot be listed" : error, {});
    return false;
  }
  for (const d2t::scsi::Device_Entry& e : entries) {
    // A device that does not answer its identity cannot be told apart
    // from others; it is left out of this listing (and the reason kept).
    error.clear();
    std::unique_ptr<Scsi_Device> dev = Scsi_Device::open(e.sg_name, &error);
    if (!dev) {
      if (error.empty()) error = e.sg_name + ": cannot be opened";
      if (error.find(e.sg_name) == std::string::npos) error = e.sg_name + ": " + error;
      left_out.push_back(error);
      continue;
    }
    d2t::scsi::Inquiry_Data id;
    std::string serial;
    const d2t::scsi::Result asked = inquiry(*dev, id);
    const d2t::scsi::Result named = asked.ok() ? unit_serial(*dev, serial) : asked;
    if (!named.ok() || serial.empty()) {
      left_out.push_back(e.sg_name + ": " +
                         (named.ok() ? "no unit serial number" : "identity not read, " + describe(named)));
      continue;
    }
    if (e.kind == d2t::scsi::Device_Kind::CHANGER) {
      Changer* c = new (std::nothrow) Changer;
      if (!c) return false;
      Changer_var cv(c);
      c->serial_number(serial);
      c->target_name(e.target_name);
      c->lun(e.lun);
      c->vendor(id.vendor);
      c->model(id.product);
      c->sg_name(e.sg_name);
      changers.push_back(cv);
    } else {
      Drive* d = new (std::nothrow) Drive;
      if (!d) return false;
      Drive_var dv(d);
      d->serial_number(serial);
      d->target_name(e.target_name);
      d->lun(e.lun);
      d->vendor(id.vendor);
      d->model(id.product);
      d->sg_name(e.sg_name);
      d->dev_name(e.dev_name);
      // Block limits are informative; a drive that does not answer keeps 0.
      std::uint8_t limits[6] = {};
      std::size_t got = 0;
      std::uint32_t max_block = 0, min_block = 0;
      if (dev->read(d2t::scsi::read_block_limits_cdb(), limits, sizeof limits, got,
                    TIMEOUT_QUICK_MS)
              .ok() &&
          d2t::scsi::parse_block_limits(limits, got, max_block, min_block)) {
        d->max_block(max_block);
        d->min_block(min_block);
      }
      drives.push_back(dv);
    }
  }
  note_listing(std::string(), std::move(left_out));
  return true;
}

}  // namespace tools

bool list_devices(std::vector<Changer_var>& changers, std::vector<Drive_var>& drives, bool rescan) {
  if (rescan) refresh_devices();
  return tools::lsscsi(changers, drives);
}

}  // namespace d2t
