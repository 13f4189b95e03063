#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "platform/text.h"

namespace zelk {

uint32_t tickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LocalTime localTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::u16string formatLocalTime(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[129];
  std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return utf8ToUtf16(std::string(buf, n));
}

void sleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace zelk
