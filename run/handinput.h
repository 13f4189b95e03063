// The start handler's treatment of the two typed hands, shared by the dialog
// and the command line: upper case, blanks removed, checked (player1 first),
// 1 to MAXPN cards each, sorted from the highest card down.
#pragma once

#include <string>

namespace zelk {

// On success both hands are replaced by their normalised form. On failure
// they keep what was typed and `boxText` holds the message to show.
bool acceptHands(std::u16string& player1, std::u16string& player2, std::u16string& boxText);

}  // namespace zelk
