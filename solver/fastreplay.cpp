#include "solver/fastreplay.h"

#include <cstring>
#include <vector>

#include "rules/cards.h"

namespace zelk {

namespace {

GameNode* childAfter(const GameNode* node, const std::string& cards, int type, char result) {
  GameNode* child = newNode();
  copyPosition(child, node);
  char* hand = node->turn == RESULT_U2 ? child->u2Cards : child->u1Cards;
  for (char card : cards) del_1(hand, card);
  std::memcpy(child->lastPlay, cards.c_str(), cards.size() + 1);
  child->playType = type;
  child->turn = node->turn == RESULT_U2 ? RESULT_U1 : RESULT_U2;
  child->result = result;
  return child;
}

}  // namespace

char growLikeSolver(FastEngine& engine, GameNode* node) {
  if (node->child || node->u1Cards[0] == '\0' || node->u2Cards[0] == '\0') return node->result;
  FastEngine::Answer a =
      engine.bestMove(node->u1Cards, node->u2Cards, node->lastPlay, node->playType, node->turn);
  if (a.result != RESULT_U1 && a.result != RESULT_U2) return a.result;
  node->result = a.result;
  if (a.found) {
    addChild(node, childAfter(node, a.cards, a.type, a.result));
    return node->result;
  }
  // Lost for the mover: every legal play, in canonical order, so that the
  // list ends up newest first like the solver's.
  fast::Hand hand = 0;
  fast::Beat beat;
  const char* mine = node->turn == RESULT_U2 ? node->u2Cards : node->u1Cards;
  if (!fast::handFromCards(mine, hand) || !fast::beatFromPlay(node->lastPlay, node->playType, beat))
    return node->result;
  std::vector<fast::Move> moves(fast::MAX_MOVES);
  int count = fast::generateMoves(hand, beat, engine.rules(), moves.data());
  for (int i = 0; i < count; ++i) {
    const fast::Move& m = moves[static_cast<std::size_t>(i)];
    addChild(node, childAfter(node, fast::moveCards(m), m.type, a.result));
  }
  return node->result;
}

}  // namespace zelk
