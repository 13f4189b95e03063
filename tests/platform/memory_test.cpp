// Large blocks from the system: zeroed, usable to the last byte, and big
// ones on a 2 MiB boundary.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace zelk {
namespace {

TEST(MapBlock, BlocksAreZeroedWritableAndBigOnesHugePageAligned) {
  const std::size_t sizes[] = {4096, 100000, std::size_t(2) << 20, (std::size_t(6) << 20) + 4096};
  for (std::size_t bytes : sizes) {
    for (bool populate : {false, true}) {
      auto* p = static_cast<unsigned char*>(mapBlock(bytes, populate));
      ASSERT_NE(p, nullptr) << bytes;
      EXPECT_EQ(p[0], 0);
      EXPECT_EQ(p[bytes / 2], 0);
      EXPECT_EQ(p[bytes - 1], 0);
      if (bytes >= (std::size_t(2) << 20)) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % (std::size_t(2) << 20), 0u) << bytes;
      }
      std::memset(p, 0xA5, bytes);  // every byte is ours
      EXPECT_EQ(p[bytes - 1], 0xA5);
      unmapBlock(p, bytes);
    }
  }
}

TEST(MapBlock, ImpossibleSizesAreRefused) {
  EXPECT_EQ(mapBlock(0, false), nullptr);
  EXPECT_EQ(mapBlock(std::size_t(1) << 62, false), nullptr);
  EXPECT_EQ(mapBlock(std::size_t(1) << 62, true), nullptr);
  EXPECT_EQ(mapBlock(SIZE_MAX, false), nullptr);  // no wrap-around when rounding up
  unmapBlock(nullptr, 0);                         // harmless
}

}  // namespace
}  // namespace zelk
