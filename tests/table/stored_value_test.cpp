// The stored forms of field values: the length of a stored string.
#include "table/stored_value.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace logvane {
namespace {

// Up to the first zero byte and never past the slot's room for text (its
// size less the terminating byte), whatever bytes the text holds. Each slot
// is allocated to its exact size, so the sanitizer build sees any read
// beyond it.
TEST(StoredString, LengthStopsAtTheFirstZeroByteWithinTheSlot) {
  std::mt19937 random(3);
  const uint8_t kBytes[] = {0x01, 0x7F, 0x80, 0x81, 0xFE, 0xFF, 'K', ' '};
  for (int size = 0; size <= 40; ++size) {
    for (int zero = -1; zero < size; ++zero) {
      std::vector<uint8_t> slot(static_cast<size_t>(size));
      for (uint8_t& b : slot) b = kBytes[random() % sizeof kBytes];
      if (zero >= 0) slot[static_cast<size_t>(zero)] = 0;
      if (zero >= 0 && zero + 1 < size && random() % 2) slot[static_cast<size_t>(zero + 1)] = 0;
      size_t expected = size <= 1 ? 0 : static_cast<size_t>(size - 1);
      if (zero >= 0 && static_cast<size_t>(zero) < expected) expected = static_cast<size_t>(zero);
      ASSERT_EQ(StoredStringLength(slot.data(), size), expected)
          << "size " << size << ", zero at " << zero;
    }
  }
}

}  // namespace
}  // namespace logvane
