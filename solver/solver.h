// The exhaustive solver: a depth-first AND-OR search over every legal play,
// without a table of known positions, cut off at the first winning play.
#pragma once

#include <atomic>
#include <cstdint>

#include "rules/switches.h"
#include "solver/gamenode.h"
#include "solver/ticker.h"

namespace zelk {

extern int64_t lastReportCount;
extern int32_t lastReportSecond;

// '1' or '2' for a decided position, '3' for an invalid turn, the byte 1 on a
// stop. Leaves the winner's strategy tree under node. Plays by `rules`, or by
// the rule switches as they are when the call starts.
char ZelkSolver(GameNode* node, int depth, Rules rules);
char ZelkSolver(GameNode* node, int depth);

}  // namespace zelk
