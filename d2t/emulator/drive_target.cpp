// The SSC side of an emulated tape drive.
#include "d2t/emulator/element_map.h"
#include "d2t/emulator/targets.h"

namespace d2t {
namespace emulator {

namespace {

Reply fail(const Sense_Code& code) {
  Reply r;
  r.sense = code;
  return r;
}

// Medium auxiliary memory attribute identifiers.
enum : std::uint16_t {
  MAM_REMAINING_CAPACITY = 0x0000,
  MAM_MAXIMUM_CAPACITY = 0x0001,
  MAM_MEDIUM_MANUFACTURER = 0x0400,
  MAM_MEDIUM_TYPE = 0x0408,
  MAM_BARCODE = 0x0806
};

const std::uint32_t MAX_BLOCK = 0x800000;  // 8 MiB

struct Attribute {
  std::uint16_t id;
  std::uint8_t format;  // 0 binary, 1 ASCII
  std::vector<std::uint8_t> value;
};

std::vector<Attribute> attributes_of(const Cartridge_State& c) {
  std::vector<Attribute> list;
  if (c.capacity > 0) {
    std::vector<std::uint8_t> mib(8);
    put64(mib.data(), c.capacity / 1048576);
    list.push_back({MAM_REMAINING_CAPACITY, 0, mib});
    list.push_back({MAM_MAXIMUM_CAPACITY, 0, mib});
  }
  std::vector<std::uint8_t> maker(8);
  put_ascii(maker.data(), 8, "EMULATED");
  list.push_back({MAM_MEDIUM_MANUFACTURER, 1, maker});
  list.push_back({MAM_MEDIUM_TYPE, 0, {static_cast<std::uint8_t>(c.cleaning ? 1 : 0)}});
  std::vector<std::uint8_t> barcode(32);
  put_ascii(barcode.data(), 32, c.barcode);
  list.push_back({MAM_BARCODE, 1, barcode});
  return list;
}

class Drive_Target : public Target {
 public:
  Drive_Target(std::shared_ptr<Library> library, std::string changer,
               std::uint32_t drive)
      : library_(std::move(library)), changer_(std::move(changer)), drive_(drive) {}

  Reply execute(const std::uint8_t* cdb, std::size_t cdb_len,
                const std::uint8_t*, std::size_t) override {
    if (cdb_len < 1) return fail(sense::INVALID_OPCODE);
    if (cdb_len < cdb_length(cdb[0])) return fail(sense::INVALID_FIELD_IN_CDB);
    switch (cdb[0]) {
      case 0x00:
        return fail(library_->test_unit_ready(changer_, drive_));
      case 0x12:
        return inquiry(identity(), cdb, cdb_len);
      case 0xA0:
        return report_luns(identity(), cdb, cdb_len);
      case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
        return Reply();
      case 0x01: {  // REWIND
        Cartridge_State c;
        return fail(library_->loaded_cartridge(changer_, drive_, c));
      }
      case 0x1B:  // LOAD UNLOAD
        if (cdb[4] & 0x04) return fail(sense::INVALID_FIELD_IN_CDB);  // EOT
        return fail(library_->load_unload(changer_, drive_, (cdb[4] & 0x01) != 0,
                                          (cdb[1] & 0x01) != 0));
      case 0x05:
        return read_block_limits(cdb);
      case 0x1A:
      case 0x5A:
        return mode_sense(cdb);
      case 0x8C:
        return read_attribute(cdb);
      default:
        return fail(sense::INVALID_OPCODE);
    }
  }

 private:
  Device_Identity identity() {
    Device_Identity id;
    id.peripheral_type = 0x01;
    id.removable = true;
    std::shared_ptr<const Library_Config> lib = library_->config();
    for (const Changer_Config& c : lib->changers) {
      if (c.serial_number != changer_ || drive_ >= c.drives.size()) continue;
      const Drive_Config& d = c.drives[drive_];
      id.vendor = d.vendor;
      id.product = d.model;
      id.revision = d.revision;
      id.serial = d.serial_number;
      id.lun = d.lun;
      id.automation_vpd = d.automation_vpd;
      id.automation_serial = c.serial_number;
      id.element_address =
          static_cast<std::uint16_t>(DRIVE_BASE + drive_ + c.automation_address_shift);
    }
    return id;
  }

  Reply read_block_limits(const std::uint8_t* cdb) {
    if (cdb[1] & 0x01) return fail(sense::INVALID_FIELD_IN_CDB);  // MLOI
    Reply r;
    r.data.assign(6, 0);
    put24(&r.data[1], MAX_BLOCK);
    put16(&r.data[4], 1);
    return r;
  }

  Reply mode_sense(const std::uint8_t* cdb) {
    std::uint8_t page = cdb[2] & 0x3F;
    if (cdb[3] != 0 || (page != 0x3F && page != 0x00))
      return fail(sense::INVALID_FIELD_IN_CDB);
    std::vector<std::uint8_t> block;
    if (!(cdb[1] & 0x08)) {  // DBD clear: one block descriptor
      block.assign(8, 0);    // density default, variable block length
    }
    return mode_sense_reply(cdb, block, 0x10 /* buffered mode */, {});
  }

  Reply read_attribute(const std::uint8_t* cdb) {
    std::uint8_t action = cdb[1] & 0x1F;
    std::uint32_t first = get16(cdb + 8);
    std::size_t allocation = get32(cdb + 10);
    if (action != 0x00 && action != 0x01) return fail(sense::INVALID_FIELD_IN_CDB);
    Cartridge_State c;
    Sense_Code code = library_->loaded_cartridge(changer_, drive_, c);
    if (!code.good()) return fail(code);
    Reply r;
    r.data.assign(4, 0);
    for (const Attribute& a : attributes_of(c)) {
      if (a.id < first) continue;
      std::size_t at = r.data.size();
      if (action == 0x01) {  // ATTRIBUTE LIST: identifiers only
        r.data.resize(at + 2);
        put16(&r.data[at], a.id);
        continue;
      }
      r.data.resize(at + 5);
      put16(&r.data[at], a.id);
      r.data[at + 2] = static_cast<std::uint8_t>(0x80 | a.format);  // read only
      put16(&r.data[at + 3], static_cast<std::uint32_t>(a.value.size()));
      r.data.insert(r.data.end(), a.value.begin(), a.value.end());
    }
    put32(&r.data[0], static_cast<std::uint32_t>(r.data.size() - 4));
    fit(r.data, allocation);
    return r;
  }

  std::shared_ptr<Library> library_;
  std::string changer_;
  std::uint32_t drive_;
};

}  // namespace

std::unique_ptr<Target> make_drive_target(std::shared_ptr<Library> library,
                                          const std::string& changer_serial,
                                          std::uint32_t drive) {
  return std::make_unique<Drive_Target>(std::move(library), changer_serial, drive);
}

}  // namespace emulator
}  // namespace d2t
