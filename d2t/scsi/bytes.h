// Big-endian field access for SCSI buffers. Callers check bounds first.
#ifndef D2T_SCSI_BYTES_H
#define D2T_SCSI_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace d2t {
namespace scsi {

inline std::uint16_t get_be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t get_be24(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 16) | (static_cast<std::uint32_t>(p[1]) << 8) | p[2];
}
inline std::uint32_t get_be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | get_be24(p + 1);
}
inline std::uint64_t get_be_n(const std::uint8_t* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}
inline void put_be16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void put_be24(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 16);
  put_be16(p + 1, static_cast<std::uint16_t>(v));
}
inline void put_be32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  put_be24(p + 1, v & 0xFFFFFF);
}

// ASCII field with leading and trailing spaces and NULs removed.
inline std::string trimmed_ascii(const std::uint8_t* p, std::size_t n) {
  std::size_t b = 0, e = n;
  while (b < e && (p[b] == ' ' || p[b] == 0)) ++b;
  while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
  return std::string(reinterpret_cast<const char*>(p + b), e - b);
}

}  // namespace scsi
}  // namespace d2t

#endif
