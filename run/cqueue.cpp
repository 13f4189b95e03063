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

// Both queues are made on first use and never destroyed. mStrSeq is always
// made first, so its mutex carries 25 and qZelk2Free's 27. A text printed
// from another file's static initialiser finds the queue built, and a
// background thread still printing while the process exits never meets a
// destroyed queue; what is left queued at exit goes with the process.
CQueue<std::u16string>& strSeqQueue() {
  static auto* q = new CQueue<std::u16string>;
  return *q;
}

CQueue<GameNode*>& zelk2FreeQueue() {
  strSeqQueue();
  static auto* q = new CQueue<GameNode*>;
  return *q;
}

CQueue<std::u16string>& mStrSeq = strSeqQueue();
CQueue<GameNode*>& qZelk2Free = zelk2FreeQueue();

}  // namespace zelk
