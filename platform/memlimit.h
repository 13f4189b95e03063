// How much memory this process may use: the physical memory, or less where
// a container's memory limit says so (cgroup v2 memory.max, v1
// memory.limit_in_bytes). A process past its cgroup's limit is killed with
// no chance to say why, so memory budgets are shares of the smaller one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zelk {

// A whole small file, or nullopt when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;

// The smallest memory limit of the cgroups named in `procSelfCgroup` (the
// text of /proc/self/cgroup) and of the groups above them, read through
// `read` from /sys/fs/cgroup; 0 when none is set.
uint64_t cgroupMemoryLimit(std::string_view procSelfCgroup, const FileReader& read);

// The physical memory, or the cgroup's limit when that is smaller; 0 when
// neither is known.
uint64_t usableMemoryBytes();

}  // namespace zelk
