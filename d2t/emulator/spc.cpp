#include "d2t/emulator/spc.h"

namespace d2t {
namespace emulator {

void put_ascii(std::uint8_t* p, std::size_t n, const std::string& s) {
  for (std::size_t i = 0; i < n; ++i)
    p[i] = i < s.size() ? static_cast<std::uint8_t>(s[i]) : ' ';
}

void fit(std::vector<std::uint8_t>& data, std::size_t allocation) {
  if (data.size() > allocation) data.resize(allocation);
}

namespace {

Reply fail(const Sense_Code& code) {
  Reply r;
  r.sense = code;
  return r;
}

std::vector<std::uint8_t> t10_designator(const Device_Identity& id) {
  std::vector<std::uint8_t> d(4 + 24 + id.serial.size());
  d[0] = 0x02;  // code set: ASCII
  d[1] = 0x01;  // association: logical unit; type: T10 vendor id
  d[3] = static_cast<std::uint8_t>(d.size() - 4);
  put_ascii(&d[4], 8, id.vendor);
  put_ascii(&d[12], 16, id.product);
  put_ascii(&d[28], id.serial.size(), id.serial);
  return d;
}

}  // namespace

Reply inquiry(const Device_Identity& id, const std::uint8_t* cdb,
              std::size_t cdb_len) {
  if (cdb_len < 6) return fail(sense::INVALID_FIELD_IN_CDB);
  bool evpd = (cdb[1] & 0x01) != 0;
  std::uint8_t page = cdb[2];
  std::size_t allocation = get16(cdb + 3);
  Reply r;
  if (!evpd) {
    if (page != 0) return fail(sense::INVALID_FIELD_IN_CDB);
    r.data.assign(36, 0);
    r.data[0] = id.peripheral_type;
    r.data[1] = id.removable ? 0x80 : 0x00;
    r.data[2] = 0x05;  // SPC-3
    r.data[3] = 0x02;  // response data format
    r.data[4] = 36 - 5;
    put_ascii(&r.data[8], 8, id.vendor);
    put_ascii(&r.data[16], 16, id.product);
    put_ascii(&r.data[32], 4, id.revision);
  } else {
    std::vector<std::uint8_t> body;
    switch (page) {
      case 0x00:
        body = {0x00, 0x80, 0x83};
        if (id.automation_vpd) body.insert(body.end(), {0xB3, 0xB4});
        break;
      case 0x80:
        body.assign(id.serial.begin(), id.serial.end());
        break;
      case 0x83:
        body = t10_designator(id);
        break;
      case 0xB3:
        if (!id.automation_vpd) return fail(sense::INVALID_FIELD_IN_CDB);
        body.assign(id.automation_serial.begin(), id.automation_serial.end());
        break;
      case 0xB4:
        if (!id.automation_vpd) return fail(sense::INVALID_FIELD_IN_CDB);
        body.assign(4, 0);  // the address as a 4-byte number
        put16(&body[2], id.element_address);
        break;
      default:
        return fail(sense::INVALID_FIELD_IN_CDB);
    }
    r.data.assign(4, 0);
    r.data[0] = id.peripheral_type;
    r.data[1] = page;
    put16(&r.data[2], static_cast<std::uint32_t>(body.size()));
    r.data.insert(r.data.end(), body.begin(), body.end());
  }
  fit(r.data, allocation);
  return r;
}

Reply report_luns(const Device_Identity& id, const std::uint8_t* cdb,
                  std::size_t cdb_len) {
  if (cdb_len < 12) return fail(sense::INVALID_FIELD_IN_CDB);
  Reply r;
  r.data.assign(16, 0);
  put32(&r.data[0], 8);
  if (id.lun < 256) {
    r.data[9] = static_cast<std::uint8_t>(id.lun);
  } else {
    r.data[8] = static_cast<std::uint8_t>(0x40 | ((id.lun >> 8) & 0x3F));
    r.data[9] = static_cast<std::uint8_t>(id.lun);
  }
  fit(r.data, get32(cdb + 6));
  return r;
}

Reply mode_sense_reply(const std::uint8_t* cdb,
                       const std::vector<std::uint8_t>& block_descriptor,
                       std::uint8_t device_specific,
                       const std::vector<std::uint8_t>& pages) {
  Reply r;
  bool ten = cdb[0] == 0x5A;
  std::size_t header = ten ? 8 : 4;
  r.data.assign(header, 0);
  r.data.insert(r.data.end(), block_descriptor.begin(), block_descriptor.end());
  r.data.insert(r.data.end(), pages.begin(), pages.end());
  if (ten) {
    put16(&r.data[0], static_cast<std::uint32_t>(r.data.size() - 2));
    r.data[3] = device_specific;
    put16(&r.data[6], static_cast<std::uint32_t>(block_descriptor.size()));
    fit(r.data, get16(cdb + 7));
  } else {
    r.data[0] = static_cast<std::uint8_t>(r.data.size() - 1);
    r.data[2] = device_specific;
    r.data[3] = static_cast<std::uint8_t>(block_descriptor.size());
    fit(r.data, cdb[4]);
  }
  return r;
}

}  // namespace emulator
}  // namespace d2t
