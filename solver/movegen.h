// Player2's legal plays in a position, as game-state nodes.
//
// The plays, their order and the strings written for them are those of the
// canonical enumeration (rules/plays.h), which the exhaustive solver and the
// fast engine walk too: the replay accepts a typed play only when it matches
// a generated one. The generator runs once per solve (the table of first
// plays); it allocates nothing per candidate but the node itself.
#pragma once

#include "rules/switches.h"
#include "solver/gamenode.h"

namespace zelk {

// Links under `node` one child per legal play of player2 (and a pass when
// there is a play to beat), newest first, each with player1 to move and its
// result set ('2' when the play empties player2's hand, '1' otherwise).
// Returns '1' when u1Cards is empty, '2' when u2Cards is empty, '1' without
// generating when player1 is to move, '3' (with a diagnostic) for any other
// turn than '2', and '1' after generating. `depth` only labels the call.
// Node creation may throw CMemoryException; the list stays well formed.
// Plays by `rules`, or by the rule switches as they are.
char ZelkCN(GameNode* node, int depth, Rules rules);
char ZelkCN(GameNode* node, int depth);

}  // namespace zelk
