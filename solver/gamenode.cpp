#include "solver/gamenode.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/output.h"
#include "rules/cards.h"
#include "rules/playtypes.h"
#include "rules/switches.h"
#include "solver/nodepool.h"

namespace zelk {

int64_t nodeCount = 0;
GameNode* tableRoot = nullptr;
GameNode* topNode = nullptr;
int64_t topMoveCount = 0;

GameNode* newNode() {
  GameNode* n = nodepool::allocate();
  std::memset(static_cast<void*>(n), 0, sizeof(GameNode));
  n->result = RESULT_OPEN;
  ++nodeCount;
  return n;
}

void copyPosition(GameNode* target, const GameNode* source) {
  // The three strings, playType, turn and result form one block; copying the
  // bytes behind a terminator as well changes none of the strings.
  copyPositionBlock(target, source);
}

void deleteNode(GameNode* node) {
  // The nodes to delete form a binary tree (left = child, right = next).
  // Rotating each left subtree to the right flattens it into the next chain
  // as we go, so the walk needs neither recursion nor a stack, however long
  // a sibling list or deep a tree.
  while (node) {
    if (GameNode* c = node->child) {
      node->child = c->next;
      c->next = node;
      node = c;
    } else {
      GameNode* after = node->next;
      nodepool::release(node);
      node = after;
    }
  }
}

void KillBrother(GameNode* parent, GameNode* node) {
  if (parent->child != node) {
    ConsolePrint(0, u"KillBrother:!\r\n");
    return;
  }
  deleteNode(node->next);
  node->next = nullptr;
}

namespace {

// Sorted copy of a card string into a fixed buffer (inputs are at most
// MAXPN cards; longer ones are cut, they can never equal a stored string).
void sortedCopy(const char* s, char (&out)[CARD_FIELD * 2]) {
  std::size_t n = std::strlen(s);
  if (n >= sizeof(out)) n = sizeof(out) - 1;
  std::memcpy(out, s, n);
  out[n] = '\0';
  std::sort(out, out + n, rankAsc);
}

bool samePosition(const GameNode* c, const char (&k1)[CARD_FIELD * 2],
                  const char (&k2)[CARD_FIELD * 2], const char (&k3)[CARD_FIELD * 2]) {
  char s[CARD_FIELD * 2];
  sortedCopy(c->u1Cards, s);
  if (std::strcmp(s, k1) != 0) return false;
  sortedCopy(c->u2Cards, s);
  if (std::strcmp(s, k2) != 0) return false;
  sortedCopy(c->lastPlay, s);
  return std::strcmp(s, k3) == 0;
}

}  // namespace

GameNode* findC(GameNode* parent, const char* u1, const char* u2, const char* last, bool verbose) {
  if (!parent) return nullptr;
  if (verbose) ConsolePrint(0, u"findC:[%s][%s][%s]--n\r\n", u1, u2, last);
  char k1[CARD_FIELD * 2], k2[CARD_FIELD * 2], k3[CARD_FIELD * 2];
  sortedCopy(u1, k1);
  sortedCopy(u2, k2);
  sortedCopy(last, k3);
  for (GameNode* c = parent->child; c; c = c->next) {
    if (verbose) {
      if (on(F_U1F)) ConsolePrint(0, u"findC:异常\r\n");
      ConsolePrint(0, u"C:[%s][%s][%s]--while--%s\r\n", c->u1Cards, c->u2Cards, c->lastPlay,
                   pt2Str(c->playType));
    }
    if (samePosition(c, k1, k2, k3)) return c;
  }
  if (verbose) ConsolePrint(0, u"findC:异常:NULL:没有找到牌局\r\n");
  return nullptr;
}

int64_t countNodes(const GameNode* node) {
  int64_t count = 0;
  std::vector<const GameNode*> stack;
  if (node) stack.push_back(node);
  while (!stack.empty()) {
    const GameNode* n = stack.back();
    stack.pop_back();
    ++count;
    if (n->next) stack.push_back(n->next);
    if (n->child) stack.push_back(n->child);
  }
  return count;
}

int64_t topMovePosition() {
  if (!tableRoot || !topNode || !tableRoot->child) return 0;
  char k1[CARD_FIELD * 2], k2[CARD_FIELD * 2], k3[CARD_FIELD * 2];
  sortedCopy(topNode->u1Cards, k1);
  sortedCopy(topNode->u2Cards, k2);
  sortedCopy(topNode->lastPlay, k3);
  int64_t position = 0;
  for (GameNode* c = tableRoot->child; c; c = c->next) {
    ++position;
    if (samePosition(c, k1, k2, k3)) return position;
  }
  return position;
}

}  // namespace zelk
