// Little-endian loads and stores of the integers and doubles in the table
// files. Every file format of a table is little-endian whatever the host.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace logvane {

inline int32_t GetInt32(const uint8_t* p) {
  uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  return static_cast<int32_t>(v);
}

inline void PutInt32(uint8_t* p, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline double GetDouble(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return std::bit_cast<double>(v);
}

inline void PutDouble(uint8_t* p, double value) {
  uint64_t v = std::bit_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace logvane
