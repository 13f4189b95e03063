// Background release of finished game trees, and the seconds ticker.
//
// A solved tree can hold millions of nodes; deleting it on the solver thread
// would delay the next solve, so the solver thread queues the root on
// qZelk2Free and ThreadZelkFree deletes one tree per second.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/cqueue.h"
#include "solver/gamenode.h"
#include "solver/ticker.h"

namespace zelk {

// Roots of finished game trees on their way to ThreadZelkFree (sequence 27:
// made right after mStrSeq).
extern CQueue<GameNode*>& qZelk2Free;
// The same queue, reachable from the static initialisers of other files.
CQueue<GameNode*>& zelk2FreeQueue();

// Starts SecondTicker and ThreadZelkFree, once per process.
void startReleaseThreads();
void SecondTicker();
void ThreadZelkFree();

// After a solving run: deletes the table of first plays here and queues the
// solved tree for release. From then on the queue owns the tree.
void handOverTree(GameNode* root);

}  // namespace zelk
