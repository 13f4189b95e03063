// The canonical enumeration of player2's legal plays in a position.
//
// The kinds, their order, the order of candidates within a kind and the
// strings written for them are the system's one definition of what a play
// is: the replay accepts a typed play only when it matches a generated one,
// and the exhaustive solver enumerates in the same order with the same
// shapes. The generator runs once per solve (the table of first plays), so it
// favours plain, checkable loops over speed; it still allocates nothing per
// candidate but the node itself.
#pragma once

#include "solver/gamenode.h"

namespace zelk {

// Links under `node` one child per legal play of player2 (and a pass when
// there is a play to beat), newest first, each with player1 to move and its
// result set ('2' when the play empties player2's hand, '1' otherwise).
// Returns '1' when u1Cards is empty, '2' when u2Cards is empty, '1' without
// generating when player1 is to move, '3' (with a diagnostic) for any other
// turn than '2', and '1' after generating. `depth` only labels the call.
// Node creation may throw CMemoryException; the list stays well formed.
char ZelkCN(GameNode* node, int depth);

}  // namespace zelk
