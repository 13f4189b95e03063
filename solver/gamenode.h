// One position of an endgame, and the game tree built from positions.
//
// A node's children hang from `child` in a list linked through `next`, the
// newest first. A node owns its first child and its next sibling: deleting a
// node deletes everything below and behind it. Nodes come from a pool
// (nodepool.h), so creation and deletion cost a few instructions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rules/types.h"

namespace zelk {

struct GameNode {
  GameNode* next;             // next sibling; null at the end of the list
  GameNode* child;            // first child; null when none
  char u1Cards[CARD_FIELD];   // player1's cards, ascending
  char u2Cards[CARD_FIELD];   // player2's cards, ascending
  char lastPlay[CARD_FIELD];  // the play to beat; empty when the mover leads
  int32_t playType;           // code of lastPlay, 0 when empty
  char turn;                  // '1' or '2': who moves
  char result;                // '1', '2', '3' (open) or 1 (stopped)
};

// Everything copyPosition copies lies in one block behind the links.
inline constexpr std::size_t POSITION_OFFSET = offsetof(GameNode, u1Cards);
inline constexpr std::size_t POSITION_BYTES = offsetof(GameNode, result) + 1 - POSITION_OFFSET;

// The bytes copyPosition copies, inline for the solver's inner loop (two
// fixed-size pieces, which the compiler turns into a few moves).
inline void copyPositionBlock(GameNode* target, const GameNode* source) {
  static_assert(POSITION_BYTES > 64 && POSITION_BYTES <= 128);
  char* to = reinterpret_cast<char*>(target) + POSITION_OFFSET;
  const char* from = reinterpret_cast<const char*>(source) + POSITION_OFFSET;
  std::memcpy(to, from, 64);
  std::memcpy(to + 64, from + 64, POSITION_BYTES - 64);
}

// Nodes created since the current solve began (never decremented).
// Written by the solving thread only.
extern int64_t nodeCount;

// The table of first plays and the first-level node being searched; they
// feed the progress line (solver thread only).
extern GameNode* tableRoot;
extern GameNode* topNode;
extern int64_t topMoveCount;

// A node with every field zero except result '3'. Throws CMemoryException
// when the node budget is exhausted; never returns null.
GameNode* newNode();
void copyPosition(GameNode* target, const GameNode* source);
inline void addChild(GameNode* parent, GameNode* node) {
  node->next = parent->child;
  parent->child = node;
}
// Deletes node, its child list with all subtrees, and its next chain.
void deleteNode(GameNode* node);
// node just proved winning for the parent's mover: drop the siblings behind it.
void KillBrother(GameNode* parent, GameNode* node);
// The first child, in list order, whose position equals (u1, u2, last) as
// multisets of cards; null when none.
GameNode* findC(GameNode* parent, const char* u1, const char* u2, const char* last, bool verbose);
int64_t countNodes(const GameNode* node);
// Position (from 1) in tableRoot's list of the child equal to topNode.
int64_t topMovePosition();

}  // namespace zelk
