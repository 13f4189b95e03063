#include "solver/release.h"

#include "base/output.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "solver/nodepool.h"
#include "solver/solver.h"

namespace zelk {

CQueue<GameNode*>& zelk2FreeQueue() {
  strSeqQueue();  // mStrSeq's mutex always carries the first number
  static auto* q = new CQueue<GameNode*>;
  return *q;
}
CQueue<GameNode*>& qZelk2Free = zelk2FreeQueue();

std::atomic<int32_t> tickSeconds{0};
std::atomic<int32_t> releaseThreadsStarted{0};

void startReleaseThreads() {
  if (releaseThreadsStarted.exchange(1) != 0) return;
  // The handles are not kept: both threads run until the process ends.
  startThread(RELEASE_STACK, SecondTicker).close();
  startThread(RELEASE_STACK, ThreadZelkFree).close();
}

void SecondTicker() {
  for (;;) {
    sleepMs(1000);
    tickSeconds.fetch_add(1, std::memory_order_relaxed);
  }
}

void ThreadZelkFree() {
  for (;;) {
    if (std::optional<GameNode*> root = qZelk2Free.take()) {
      GameNode* r = *root;
      LogPrint(u"ThreadZelkFree:[%p][%s][%s] to free..\n", static_cast<const void*>(r),
               r ? r->u1Cards : "", r ? r->u2Cards : "");
      deleteNode(r);
      // Give the freed nodes back to the shared pool at once, so the next
      // solve on the solver thread can reuse them.
      nodepool::flushThreadCache();
      LogPrint(u"ThreadZelkFree:[%p]freed!![%d]\r\n", static_cast<const void*>(r),
               qZelk2Free.size());
    }
    sleepMs(1000);
  }
}

void handOverTree(GameNode* root) {
  if (tableRoot) {
    deleteNode(tableRoot);
    tableRoot = nullptr;
  }
  qZelk2Free.push(root);
}

}  // namespace zelk
