#include "run/cqueue.h"

#include <atomic>

#include "platform/clock.h"
#include "run/format.h"

namespace zelk {

std::u16string nextQueueMutexName() {
  static std::atomic<int> sequence{25};
  int n = sequence.fetch_add(2);
  LocalTime t = localTimeNow();
  return formatText(u"sMutex_CQueue_[%02d%02d%02d][%d]", t.hour, t.minute, t.second, n);
}

// Both queues live in this one file so that static initialisation builds
// them in this order: mStrSeq gets 25, qZelk2Free 27.
CQueue<std::u16string> mStrSeq;
CQueue<GameNode*> qZelk2Free;

}  // namespace zelk
