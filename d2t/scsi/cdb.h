// Builders of the command descriptor blocks this library issues. Pure: each
// returns the CDB bytes and touches nothing else.
#ifndef D2T_SCSI_CDB_H
#define D2T_SCSI_CDB_H

#include <cstddef>
#include <cstdint>

namespace d2t {
namespace scsi {

struct Cdb {
  std::uint8_t bytes[16] = {};
  std::size_t len = 0;
};

// Operation codes.
enum : std::uint8_t {
  OP_TEST_UNIT_READY = 0x00,
  OP_REQUEST_SENSE = 0x03,
  OP_READ_BLOCK_LIMITS = 0x05,
  OP_INQUIRY = 0x12,
  OP_LOAD_UNLOAD = 0x1B,
  OP_MODE_SENSE_6 = 0x1A,
  OP_READ_ATTRIBUTE = 0x8C,
  OP_MOVE_MEDIUM = 0xA5,
  OP_READ_ELEMENT_STATUS = 0xB8,
};

// Element type codes of READ ELEMENT STATUS and mode page 0x1D.
enum Element_Type : std::uint8_t {
  ELEMENT_ALL = 0,
  ELEMENT_TRANSPORT = 1,      // medium transport (robot)
  ELEMENT_STORAGE = 2,        // storage slot
  ELEMENT_IMPORT_EXPORT = 3,  // porter / mail slot
  ELEMENT_DATA_TRANSFER = 4,  // tape drive
};

enum : std::uint8_t {
  VPD_SUPPORTED_PAGES = 0x00,
  VPD_UNIT_SERIAL = 0x80,
  VPD_DEVICE_IDENTIFICATION = 0x83,
  VPD_AUTOMATION_SERIAL = 0xB3,      // tape drive: its library's serial number
  VPD_ELEMENT_ADDRESS = 0xB4,        // tape drive: its element address there
  MODE_PAGE_ELEMENT_ADDRESS = 0x1D,
};

Cdb test_unit_ready_cdb();
Cdb request_sense_cdb(std::uint8_t alloc_len);
// Standard INQUIRY when `evpd` is false, else the vital product data page.
// Keep alloc_len at 255 or below for devices of the older command set,
// which take byte 3 as reserved and byte 4 alone as the length.
Cdb inquiry_cdb(bool evpd, std::uint8_t page, std::uint16_t alloc_len);
// MODE SENSE(6) of one page, block descriptors disabled, current values.
Cdb mode_sense6_cdb(std::uint8_t page, std::uint8_t alloc_len);
// READ ELEMENT STATUS (12 bytes). alloc_len is 24 bits wide (larger values
// are clamped to 0xFFFFFF).
Cdb read_element_status_cdb(Element_Type type, std::uint16_t start, std::uint16_t count,
                            bool voltag, bool dvcid, std::uint32_t alloc_len);
Cdb move_medium_cdb(std::uint16_t transport, std::uint16_t source, std::uint16_t destination);
// SSC READ BLOCK LIMITS (6 bytes of data).
Cdb read_block_limits_cdb();
// SSC LOAD UNLOAD: load false ejects (unloads) the cartridge.
Cdb load_unload_cdb(bool load, bool immediate);
// READ ATTRIBUTE, service action ATTRIBUTE VALUES, starting at attribute
// `first`, logical volume 0, partition 0.
Cdb read_attribute_cdb(std::uint16_t first, std::uint32_t alloc_len);

}  // namespace scsi
}  // namespace d2t

#endif
