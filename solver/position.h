// A position of an endgame, from its start or from the middle of a game
// (the Position of engine.h), as the user gives it.
//
// The opening position is the typed hands with player2 to lead. A position
// from the middle of a game adds the play on the table that the mover must
// beat (or none: the mover leads) and who moves. The mover's opponent made
// that play, so it must be one he could have made under the rule switches
// (see rules/playparse.h); its cards are in neither hand any more.
#pragma once

#include <string>
#include <string_view>

#include "solver/engine.h"
#include "solver/fastmoves.h"

namespace zelk {

// Builds a position from the hands (card strings in any order, each one
// hand of one pack, 1 to MAXPN cards), the mover, and the play to beat as
// typed (empty: none) with its type name (empty: none given; see
// parsePlayToBeat). `rules`: the switches in force. False with a message
// (English, naming what is wrong) when any part is not one.
bool makePosition(std::string_view u1, std::string_view u2, char mover, std::string_view toBeat,
                  std::string_view toBeatType, fast::Rules rules, Position& out,
                  std::string& error);

// The switch bit of a play type in fast::Rules; 0 for the single and the
// pass, which no switch turns off.
fast::Rules ruleOfType(int type);

}  // namespace zelk
