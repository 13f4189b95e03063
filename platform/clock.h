// Millisecond tick count and local time.
#pragma once

#include <cstdint>
#include <string>

namespace zelk {

// Milliseconds from an arbitrary start, wrapping at 2^32 like a desktop tick count.
uint32_t tickCount();

struct LocalTime {
  int year, month, day, hour, minute, second;
};
LocalTime localTimeNow();

// strftime over the local time, as wide text (at most 128 characters).
std::u16string formatLocalTime(const char* format);

void sleepMs(uint32_t ms);

}  // namespace zelk
