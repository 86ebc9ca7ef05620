// Sense codes and fixed-format sense data, as a device server builds them.
#ifndef D2T_EMULATOR_SENSE_H
#define D2T_EMULATOR_SENSE_H

#include <cstdint>
#include <vector>

namespace d2t {
namespace emulator {

enum : std::uint8_t {
  SK_NO_SENSE = 0x00,
  SK_NOT_READY = 0x02,
  SK_MEDIUM_ERROR = 0x03,
  SK_HARDWARE_ERROR = 0x04,
  SK_ILLEGAL_REQUEST = 0x05,
  SK_UNIT_ATTENTION = 0x06,
  SK_ABORTED_COMMAND = 0x0B
};

// Sense key with additional sense code and qualifier; all zero is GOOD.
struct Sense_Code {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  bool good() const { return key == 0 && asc == 0 && ascq == 0; }
  bool operator==(const Sense_Code& o) const {
    return key == o.key && asc == o.asc && ascq == o.ascq;
  }
};

// The codes this emulator answers with.
namespace sense {
constexpr Sense_Code OK{0, 0, 0};
constexpr Sense_Code INVALID_OPCODE{SK_ILLEGAL_REQUEST, 0x20, 0x00};
constexpr Sense_Code INVALID_FIELD_IN_CDB{SK_ILLEGAL_REQUEST, 0x24, 0x00};
constexpr Sense_Code INVALID_ELEMENT{SK_ILLEGAL_REQUEST, 0x21, 0x01};
constexpr Sense_Code SOURCE_EMPTY{SK_ILLEGAL_REQUEST, 0x3B, 0x0E};
constexpr Sense_Code DESTINATION_FULL{SK_ILLEGAL_REQUEST, 0x3B, 0x0D};
constexpr Sense_Code PARAMETER_LIST_LENGTH{SK_ILLEGAL_REQUEST, 0x1A, 0x00};
constexpr Sense_Code MEDIUM_NOT_PRESENT{SK_NOT_READY, 0x3A, 0x00};
constexpr Sense_Code BECOMING_READY{SK_NOT_READY, 0x04, 0x01};
constexpr Sense_Code INITIALIZING_COMMAND_REQUIRED{SK_NOT_READY, 0x04, 0x02};
constexpr Sense_Code CLEANING_CARTRIDGE{SK_NOT_READY, 0x30, 0x03};
constexpr Sense_Code MEDIUM_CHANGED{SK_UNIT_ATTENTION, 0x28, 0x00};
constexpr Sense_Code ABORTED{SK_ABORTED_COMMAND, 0x00, 0x00};
constexpr Sense_Code HARDWARE_FAILURE{SK_HARDWARE_ERROR, 0x44, 0x00};
}  // namespace sense

// 18 bytes of fixed-format current sense (response code 0x70).
std::vector<std::uint8_t> fixed_sense(const Sense_Code& code);

}  // namespace emulator
}  // namespace d2t

#endif
