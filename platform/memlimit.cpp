#include "platform/memlimit.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace zelk {

namespace {

// A limit file holds a number of bytes, or "max" for none (v2).
uint64_t limitIn(const std::optional<std::string>& text) {
  if (!text) return 0;
  uint64_t n = 0;
  std::size_t i = 0;
  for (; i < text->size() && (*text)[i] >= '0' && (*text)[i] <= '9'; ++i) {
    if (n > (UINT64_MAX - 9) / 10) return 0;
    n = n * 10 + static_cast<uint64_t>((*text)[i] - '0');
  }
  // v1 writes "no limit" as the largest page multiple below 2^63.
  return i > 0 && n < (uint64_t(1) << 62) ? n : 0;
}

std::optional<std::string> readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The controllers field is a comma-separated list; "memory" must be a whole item.
bool listsMemory(std::string_view controllers) {
  while (true) {
    const std::size_t comma = controllers.find(',');
    if (controllers.substr(0, comma) == "memory") return true;
    if (comma == std::string_view::npos) return false;
    controllers.remove_prefix(comma + 1);
  }
}

}  // namespace

uint64_t cgroupMemoryLimit(std::string_view procSelfCgroup, const FileReader& read) {
  uint64_t smallest = 0;
  while (!procSelfCgroup.empty()) {
    // "hierarchy:controllers:path", one a line; the path may hold colons.
    std::string_view line = procSelfCgroup.substr(0, procSelfCgroup.find('\n'));
    procSelfCgroup.remove_prefix(std::min(procSelfCgroup.size(), line.size() + 1));
    const std::size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string_view::npos || b == std::string_view::npos) continue;
    const std::string_view hierarchy = line.substr(0, a),
                           controllers = line.substr(a + 1, b - a - 1);
    std::string path(line.substr(b + 1)), folder, file;
    if (hierarchy == "0" && controllers.empty()) {
      folder = "/sys/fs/cgroup";
      file = "/memory.max";
    } else if (listsMemory(controllers)) {
      folder = "/sys/fs/cgroup/memory";
      file = "/memory.limit_in_bytes";
    } else {
      continue;
    }
    // The limits of the groups above hold for this one too.
    for (;;) {
      if (path == "/") path.clear();
      const uint64_t limit = limitIn(read(folder + path + file));
      if (limit > 0 && (smallest == 0 || limit < smallest)) smallest = limit;
      if (path.empty()) break;
      path.resize(path.rfind('/'));
    }
  }
  return smallest;
}

uint64_t usableMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
  const uint64_t physical = pages > 0 && pageSize > 0
                                ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                                : 0;
  const std::optional<std::string> groups = readWhole("/proc/self/cgroup");
  const uint64_t limit = groups ? cgroupMemoryLimit(*groups, readWhole) : 0;
  return limit > 0 && (physical == 0 || limit < physical) ? limit : physical;
}

}  // namespace zelk
