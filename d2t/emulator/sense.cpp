#include "d2t/emulator/sense.h"

namespace d2t {
namespace emulator {

std::vector<std::uint8_t> fixed_sense(const Sense_Code& code) {
  std::vector<std::uint8_t> s(18, 0);
  s[0] = 0x70;
  s[2] = code.key & 0x0F;
  s[7] = 10;  // additional sense length: bytes 8..17
  s[12] = code.asc;
  s[13] = code.ascq;
  return s;
}

}  // namespace emulator
}  // namespace d2t
