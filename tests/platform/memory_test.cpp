// Large blocks from the system: zeroed, usable to the last byte, and big
// ones on a 2 MiB boundary.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "platform/memlimit.h"

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

// The cgroup's limit from the files a container shows: the smallest of the
// group's and its parents', where "max" and v1's unlimited value are none.
TEST(CgroupMemoryLimit, FromTheFilesOfTheGroupAndItsParents) {
  const std::map<std::string, std::string> files = {
      {"/sys/fs/cgroup/memory.max", "536870912\n"},
      {"/sys/fs/cgroup/a/b/memory.max", "max\n"},
      {"/sys/fs/cgroup/a/memory.max", "268435456\n"},
      {"/sys/fs/cgroup/c/memory.max", "134217728"},
      {"/sys/fs/cgroup/memory/d/memory.limit_in_bytes", "67108864\n"},
      {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"}};
  const FileReader read = [&](const std::string& path) -> std::optional<std::string> {
    auto it = files.find(path);
    return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  const std::pair<const char*, uint64_t> rows[] = {
      {"0::/\n", 512u << 20},  {"0::/a/b\n", 256u << 20},
      {"0::/c\n", 128u << 20}, {"3:cpu:/x\n11:memory:/d\n", 64u << 20},
      {"5:memory:/e\n", 0},    {"3:cpu:/x\nno colons\n", 0}};
  for (const auto& [groups, limit] : rows)
    EXPECT_EQ(cgroupMemoryLimit(groups, read), limit) << groups;
  EXPECT_GT(usableMemoryBytes(), 0u);
}

}  // namespace
}  // namespace zelk
