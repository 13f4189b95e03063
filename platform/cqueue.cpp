#include "platform/cqueue.h"

#include <atomic>
#include <cstdio>

#include "platform/clock.h"

namespace zelk {

std::u16string nextQueueMutexName() {
  static std::atomic<int> sequence{25};
  int n = sequence.fetch_add(2);
  LocalTime t = localTimeNow();
  char name[64];
  int length = std::snprintf(name, sizeof name, "sMutex_CQueue_[%02d%02d%02d][%d]", t.hour,
                             t.minute, t.second, n);
  return std::u16string(name, name + length);
}

}  // namespace zelk
