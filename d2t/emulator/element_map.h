// SCSI element addresses of an emulated changer (the map emulator.h
// documents) and their translation to element indexes of Changer_State.
#ifndef D2T_EMULATOR_ELEMENT_MAP_H
#define D2T_EMULATOR_ELEMENT_MAP_H

#include <cstdint>

#include "d2t/emulator/state.h"

namespace d2t {
namespace emulator {

enum : std::uint16_t {
  TRANSPORT_ADDRESS = 0x0000,
  DRIVE_BASE = 0x0100,
  PORTER_BASE = 0x0400,
  STORAGE_BASE = 0x1000
};

// SMC element type codes.
enum : std::uint8_t {
  ET_ALL = 0,
  ET_TRANSPORT = 1,
  ET_STORAGE = 2,
  ET_PORTER = 3,
  ET_DRIVE = 4
};

// Element index of a storage, porter or drive address; -1 for the
// transport address and for addresses outside the changer.
inline std::int32_t element_of_address(const Changer_State& c,
                                       std::uint16_t address) {
  if (address >= STORAGE_BASE) {
    std::uint32_t i = address - STORAGE_BASE;
    return i < c.storage ? static_cast<std::int32_t>(i) : -1;
  }
  if (address >= PORTER_BASE) {
    std::uint32_t i = address - PORTER_BASE;
    return i < c.porter ? static_cast<std::int32_t>(c.storage + i) : -1;
  }
  if (address >= DRIVE_BASE) {
    std::uint32_t i = address - DRIVE_BASE;
    return i < c.drives ? c.drive_element(i) : -1;
  }
  return -1;
}

inline std::uint16_t address_of_element(const Changer_State& c,
                                        std::int32_t element) {
  std::uint32_t e = static_cast<std::uint32_t>(element);
  if (e < c.storage) return static_cast<std::uint16_t>(STORAGE_BASE + e);
  if (e < c.storage + c.porter)
    return static_cast<std::uint16_t>(PORTER_BASE + (e - c.storage));
  return static_cast<std::uint16_t>(DRIVE_BASE + (e - c.storage - c.porter));
}

}  // namespace emulator
}  // namespace d2t

#endif
