#include "d2t/emulator/replay_target.h"

#include <algorithm>

#include "d2t/emulator/element_map.h"
#include "d2t/emulator/element_report.h"

namespace d2t {
namespace emulator {

namespace {

Reply fail(const Sense_Code& code) {
  Reply r;
  r.sense = code;
  return r;
}

// The emulator's own address of element index `e` of a changer with
// `storage` and `porter` slots (element_map.h), which Library speaks.
std::uint16_t library_address(std::int32_t e, std::uint32_t storage, std::uint32_t porter) {
  auto i = static_cast<std::uint32_t>(e);
  if (i < storage) return static_cast<std::uint16_t>(STORAGE_BASE + i);
  if (i < storage + porter) return static_cast<std::uint16_t>(PORTER_BASE + (i - storage));
  return static_cast<std::uint16_t>(DRIVE_BASE + (i - storage - porter));
}

class Replay_Changer_Target : public Target {
 public:
  Replay_Changer_Target(std::shared_ptr<Library> library, std::string serial,
                        std::shared_ptr<const Replay_Changer> replay)
      : library_(std::move(library)), serial_(std::move(serial)), replay_(std::move(replay)) {}

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
        return replay_->identity().inquiry(cdb, cdb_len);
      case 0xA0: {
        Device_Identity id;
        id.lun = lun();
        return report_luns(id, cdb, cdb_len);
      }
      case 0x1A:
      case 0x5A:
        return replay_->mode_sense(cdb);
      case 0xB8:
        return read_element_status(cdb);
      case 0xA5:
        return move_medium(cdb);
      default:
        return fail(sense::INVALID_OPCODE);
    }
  }

 private:
  std::uint32_t lun() {
    for (const Changer_Config& c : library_->config()->changers)
      if (c.serial_number == serial_) return c.lun;
    return 0;
  }

  Reply read_element_status(const std::uint8_t* cdb) {
    Element_Request request;
    request.type = cdb[1] & 0x0F;
    request.volume_tags = (cdb[1] & 0x10) != 0;
    request.start = static_cast<std::uint16_t>(get16(cdb + 2));
    request.count = static_cast<std::uint16_t>(get16(cdb + 4));
    request.device_ids = (cdb[6] & 0x01) != 0;
    if (request.type > ET_DRIVE) return fail(sense::INVALID_FIELD_IN_CDB);
    Reply r;
    bool ok = library_->element_status(
        serial_, request.type, request.start, request.count,
        [&](const Changer_Config&, const Changer_State& state) {
          r.data = replay_element_status(*replay_, state, request);
        },
        nullptr);
    if (!ok) return fail(sense::HARDWARE_FAILURE);
    fit(r.data, get24(cdb + 7));
    return r;
  }

  Reply move_medium(const std::uint8_t* cdb) {
    if (cdb[10] & 0x01) return fail(sense::INVALID_FIELD_IN_CDB);  // Invert
    const auto transport = static_cast<std::uint16_t>(get16(cdb + 2));
    if (!replay_->addresses(ET_TRANSPORT).empty() && !replay_->is_transport(transport))
      return fail(sense::INVALID_ELEMENT);
    const std::int32_t from = replay_->element_of(static_cast<std::uint16_t>(get16(cdb + 4)));
    const std::int32_t to = replay_->element_of(static_cast<std::uint16_t>(get16(cdb + 6)));
    if (from < 0 || to < 0) return fail(sense::INVALID_ELEMENT);
    const std::uint32_t storage = static_cast<std::uint32_t>(replay_->addresses(ET_STORAGE).size());
    const std::uint32_t porter = static_cast<std::uint32_t>(replay_->addresses(ET_PORTER).size());
    return fail(library_->move_medium(serial_, library_address(from, storage, porter),
                                      library_address(to, storage, porter)));
  }

  std::shared_ptr<Library> library_;
  std::string serial_;
  std::shared_ptr<const Replay_Changer> replay_;
};

class Replay_Drive_Target : public Target {
 public:
  Replay_Drive_Target(std::unique_ptr<Target> drive,
                      std::shared_ptr<const Replay_Identity> identity)
      : drive_(std::move(drive)), identity_(std::move(identity)) {}

  Reply execute(const std::uint8_t* cdb, std::size_t cdb_len, const std::uint8_t* data_out,
                std::size_t out_len) override {
    if (cdb_len >= 6 && cdb[0] == 0x12) return identity_->inquiry(cdb, cdb_len);
    return drive_->execute(cdb, cdb_len, data_out, out_len);
  }

 private:
  std::unique_ptr<Target> drive_;
  std::shared_ptr<const Replay_Identity> identity_;
};

}  // namespace

Reply Replay_Changer::mode_sense(const std::uint8_t* cdb) const {
  const bool ten = cdb[0] == 0x5A;
  const std::uint8_t page = cdb[2] & 0x3F;
  const std::uint8_t control = cdb[2] & 0xC0;
  if (cdb[3] != 0) return fail(sense::INVALID_FIELD_IN_CDB);  // subpages
  std::vector<std::uint8_t> pages;
  std::uint8_t device_specific = 0;
  for (const auto& m : mode_pages_) {
    if (page != 0x3F && m.first != page) continue;
    // The very request that was recorded gets the recorded answer.
    if (page != 0x3F && !ten && (cdb[1] & 0x08) && cdb[2] == m.second.cdb2) {
      Reply r;
      r.data = m.second.answer;
      fit(r.data, cdb[4]);
      return r;
    }
    std::vector<std::uint8_t> p = m.second.page;
    if (control == 0x40 && p.size() > 2) std::fill(p.begin() + 2, p.end(), 0);  // changeable
    pages.insert(pages.end(), p.begin(), p.end());
    device_specific = m.second.device_specific;
  }
  if (pages.empty()) return fail(sense::INVALID_FIELD_IN_CDB);
  return mode_sense_reply(cdb, {}, device_specific, pages);
}

std::unique_ptr<Target> make_replay_changer_target(std::shared_ptr<Library> library,
                                                   const std::string& changer_serial,
                                                   std::shared_ptr<const Replay_Changer> replay) {
  return std::make_unique<Replay_Changer_Target>(std::move(library), changer_serial,
                                                 std::move(replay));
}

std::unique_ptr<Target> make_replay_drive_target(std::unique_ptr<Target> drive,
                                                 std::shared_ptr<const Replay_Identity> identity) {
  return std::make_unique<Replay_Drive_Target>(std::move(drive), std::move(identity));
}

}  // namespace emulator
}  // namespace d2t
