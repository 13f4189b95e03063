// Process-wide flags that every layer reads: the stop request and the
// debug switches.
//
// Every reader loads the current value at the moment of use, from any thread
// (the search tests stopFlag at every node), so the flags are relaxed
// atomics: as cheap as plain loads, free of data races.
#pragma once

#include <atomic>
#include <cstdint>

namespace zelk {

using Flag = std::atomic<int32_t>;

inline bool on(const Flag& f) { return f.load(std::memory_order_relaxed) != 0; }
inline void setFlag(Flag& f, int32_t v) { f.store(v, std::memory_order_relaxed); }

// The solving run's stop request: the stop command and failed console
// reads or writes set it, the start of a run and its completion clear it.
extern Flag stopFlag;
inline bool stopRequested() { return stopFlag.load(std::memory_order_relaxed) != 0; }
inline void setStop(int32_t v) { stopFlag.store(v, std::memory_order_relaxed); }

// Debug switches: 0 at every start, never stored.
extern Flag F_DEBUG;  // consistency checks, long progress line, verbose findC, HTTP diagnostics
extern Flag F_U1F;    // the listing mode in which player1 leads
extern Flag F_LOG;    // every text also goes to the log file

}  // namespace zelk
