#include "solver/position.h"

#include "rules/cards.h"
#include "rules/playparse.h"

namespace zelk {

fast::Rules ruleOfType(int type) {
  switch (type) {
    case TYPE_D: return fast::R_D;
    case TYPE_3: return fast::R_3;
    case TYPE_31: return fast::R_31;
    case TYPE_32: return fast::R_32;
    case TYPE_411: return fast::R_411;
    case TYPE_422: return fast::R_422;
    case TYPE_F: return fast::R_F;
    case TYPE_F11: return fast::R_F11;
    case TYPE_F22: return fast::R_F22;
    case TYPE_SZ: return fast::R_SZ;
    case TYPE_LD: return fast::R_LD;
    case TYPE_ZD: return fast::R_ZD;
    case TYPE_WZ: return fast::R_WZ;
    default: return 0;
  }
}

bool makePosition(std::string_view u1, std::string_view u2, char mover, std::string_view toBeat,
                  std::string_view toBeatType, fast::Rules rules, Position& out,
                  std::string& error) {
  Position p;
  const std::string_view hands[2] = {u1, u2};
  std::string* cards[2] = {&p.u1Cards, &p.u2Cards};
  for (int i = 0; i < 2; ++i) {
    fast::Hand h = 0;
    const std::string who = i == 0 ? "player1" : "player2";
    if (!fast::handFromCards(hands[i], h)) {
      error = who + "'s cards " + std::string(hands[i]) + " are not a hand of one pack";
      return false;
    }
    const int n = fast::cardCount(h);
    if (n < 1 || n > MAXPN) {
      error = who + " must hold 1 to " + std::to_string(MAXPN) + " cards";
      return false;
    }
    *cards[i] = fast::handToCards(h);
  }
  if (mover != RESULT_U1 && mover != RESULT_U2) {
    error = "the mover is player1 or player2";
    return false;
  }
  p.turn = mover;
  if (toBeat.empty()) {
    if (!toBeatType.empty()) {
      error = "a play type needs the cards of the play to beat";
      return false;
    }
  } else {
    TypedPlay play;
    auto typeOn = [rules](int type) {
      const fast::Rules bit = ruleOfType(type);
      return bit == 0 || (rules & bit) != 0;
    };
    if (!parsePlayToBeat(toBeat, toBeatType, typeOn, play, error)) return false;
    p.lastPlay = play.cards;
    p.playType = play.type;
  }
  out = p;
  return true;
}

}  // namespace zelk
