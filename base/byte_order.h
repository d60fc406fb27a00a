// Little-endian loads and stores of the integers and doubles in the table
// files. Every file format of a table is little-endian whatever the host.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace logvane {

// Each is one load or store on a little-endian host; a big-endian host
// swaps the bytes.
inline int32_t GetInt32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return static_cast<int32_t>(v);
}

inline void PutInt32(uint8_t* p, int32_t value) {
  auto v = static_cast<uint32_t>(value);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  std::memcpy(p, &v, sizeof v);
}

inline double GetDouble(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return std::bit_cast<double>(v);
}

inline void PutDouble(uint8_t* p, double value) {
  auto v = std::bit_cast<uint64_t>(value);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
}

}  // namespace logvane
