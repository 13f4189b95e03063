// The seconds clock of the progress lines, shared by both engines.
//
// SecondTicker (release.h) advances tickSeconds once a second from the first
// solve on; before that has started, a search keeps time by itself.
#pragma once

#include <atomic>
#include <cstdint>

namespace zelk {

// Seconds since the solve started (reset by the solving run).
extern std::atomic<int32_t> tickSeconds;
// 1 once SecondTicker and ThreadZelkFree run.
extern std::atomic<int32_t> releaseThreadsStarted;

inline bool tickerRunning() { return releaseThreadsStarted.load(std::memory_order_relaxed) != 0; }

}  // namespace zelk
