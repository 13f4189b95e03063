// The replay's tree, grown from the fast engine one position at a time.
//
// The exhaustive solver leaves the winner's strategy as a tree: a position
// the mover wins keeps one child, the first winning play in canonical
// order; a position the mover loses keeps every legal play. The replay walks
// that tree. With the fast engine nothing is kept during the search, so the
// replay grows the same shape on demand, as it reaches each position; the
// grown children are the cache of the engine's answers.
#pragma once

#include "solver/fastengine.h"
#include "solver/gamenode.h"

namespace zelk {

// Hangs under node the children the exhaustive solver would have kept there,
// each with its result, and sets node->result. Does nothing to a node that
// has children already or where a hand is empty. Returns node->result
// (RESULT_STOPPED, without children, when a stop ended the search). Node
// creation may throw CMemoryException.
char growLikeSolver(FastEngine& engine, GameNode* node);

}  // namespace zelk
