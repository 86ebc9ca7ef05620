// The SMC side of an emulated changer.
#include <algorithm>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/element_report.h"
#include "d2t/emulator/targets.h"

namespace d2t {
namespace emulator {

namespace {

Reply fail(const Sense_Code& code) {
  Reply r;
  r.sense = code;
  return r;
}

class Changer_Target : public Target {
 public:
  Changer_Target(std::shared_ptr<Library> library, std::string serial)
      : library_(std::move(library)), serial_(std::move(serial)) {}

  Reply execute(const std::uint8_t* cdb, std::size_t cdb_len, const std::uint8_t*,
                std::size_t) override {
    if (cdb_len < 1) return fail(sense::INVALID_OPCODE);
    if (cdb_len < cdb_length(cdb[0])) return fail(sense::INVALID_FIELD_IN_CDB);
    switch (cdb[0]) {
      case 0x00:  // TEST UNIT READY
      case 0x07:  // INITIALIZE ELEMENT STATUS
      case 0x37:  // INITIALIZE ELEMENT STATUS WITH RANGE
      case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
        return Reply();
      case 0x12:
        return inquiry(identity(), cdb, cdb_len);
      case 0xA0:
        return report_luns(identity(), cdb, cdb_len);
      case 0x1A:
      case 0x5A:
        return mode_sense(cdb);
      case 0xB8:
        return read_element_status(cdb);
      case 0xA5:
        return move_medium(cdb);
      default:
        return fail(sense::INVALID_OPCODE);
    }
  }

 private:
  Device_Identity identity() {
    Device_Identity id;
    id.peripheral_type = 0x08;
    std::shared_ptr<const Library_Config> lib = library_->config();
    for (const Changer_Config& c : lib->changers) {
      if (c.serial_number != serial_) continue;
      id.vendor = c.vendor;
      id.product = c.model;
      id.revision = c.revision;
      id.serial = c.serial_number;
      id.lun = c.lun;
    }
    return id;
  }

  Reply mode_sense(const std::uint8_t* cdb) {
    std::uint8_t page = cdb[2] & 0x3F;
    bool changeable = (cdb[2] & 0xC0) == 0x40;
    if (cdb[3] != 0) return fail(sense::INVALID_FIELD_IN_CDB);  // subpages
    if (page != 0x1D && page != 0x1F && page != 0x3F) return fail(sense::INVALID_FIELD_IN_CDB);
    std::vector<std::uint8_t> pages;
    bool ok = library_->view(
        serial_,
        [&](const Changer_Config&, const Changer_State& state) {
          if (page == 0x1D || page == 0x3F) {
            std::vector<std::uint8_t> p = element_address_page(state);
            pages.insert(pages.end(), p.begin(), p.end());
          }
          if (page == 0x1F || page == 0x3F) {
            std::vector<std::uint8_t> p = capabilities_page();
            pages.insert(pages.end(), p.begin(), p.end());
          }
        },
        nullptr);
    if (!ok) return fail(sense::HARDWARE_FAILURE);
    if (changeable) {
      // Nothing can be changed: the pages come back with zeroed fields.
      for (std::size_t i = 0; i < pages.size(); i += 20)
        std::fill(pages.begin() + i + 2, pages.begin() + i + 20, 0);
    }
    return mode_sense_reply(cdb, {}, 0, pages);
  }

  Reply read_element_status(const std::uint8_t* cdb) {
    Element_Request request;
    request.type = cdb[1] & 0x0F;
    request.volume_tags = (cdb[1] & 0x10) != 0;
    request.start = static_cast<std::uint16_t>(get16(cdb + 2));
    request.count = static_cast<std::uint16_t>(get16(cdb + 4));
    request.device_ids = (cdb[6] & 0x01) != 0;
    std::size_t allocation = get24(cdb + 7);
    if (request.type > ET_DRIVE) return fail(sense::INVALID_FIELD_IN_CDB);
    Reply r;
    bool rejected = false;
    bool ok = library_->element_status(
        serial_, request.type, request.start, request.count,
        [&](const Changer_Config& config, const Changer_State& state) {
          // A changer that does not do DVCID refuses the bit.
          rejected = request.device_ids && config.dvcid == Dvcid::REJECT;
          if (!rejected) r.data = build_element_status(config, state, request);
        },
        nullptr);
    if (!ok) return fail(sense::HARDWARE_FAILURE);
    if (rejected) return fail(sense::INVALID_FIELD_IN_CDB);
    fit(r.data, allocation);
    return r;
  }

  Reply move_medium(const std::uint8_t* cdb) {
    if (cdb[10] & 0x01) return fail(sense::INVALID_FIELD_IN_CDB);  // Invert
    std::uint32_t transport = get16(cdb + 2);
    if (transport != TRANSPORT_ADDRESS) return fail(sense::INVALID_ELEMENT);
    return fail(library_->move_medium(serial_, static_cast<std::uint16_t>(get16(cdb + 4)),
                                      static_cast<std::uint16_t>(get16(cdb + 6))));
  }

  std::shared_ptr<Library> library_;
  std::string serial_;
};

}  // namespace

std::unique_ptr<Target> make_changer_target(std::shared_ptr<Library> library,
                                            const std::string& changer_serial) {
  return std::make_unique<Changer_Target>(std::move(library), changer_serial);
}

}  // namespace emulator
}  // namespace d2t
