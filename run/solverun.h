// The solving run: from two hands to the verdict, then the replay on the console.
#pragma once

#include <string>

#include "solver/gamenode.h"

namespace zelk {

// The hands as the start handler accepted them: validated, upper case,
// without blanks, sorted from the highest card down. player1 plays second,
// player2 leads. Read by the solving run while a solve runs.
extern std::u16string inputA;
extern std::u16string inputB;

int zelkmain(GameNode* root);

// Reads one line (without its line end) from the console; 0 on success, 1 on failure.
int ReadConsoleLine(std::u16string& line);

}  // namespace zelk
