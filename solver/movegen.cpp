#include "solver/movegen.h"

#include <cstring>

#include "base/output.h"
#include "rules/cards.h"
#include "rules/plays.h"
#include "rules/playtypes.h"
#include "rules/switches.h"

namespace zelk {

namespace {

// The table is made once per solve and lists every play, so each candidate
// of the kind to beat is made as a node first and then compared with the
// play to beat; only a single that cannot beat is left out before.
constexpr plays::Options TABLE{.beatingOnly = false, .bombsThatBeat = false, .countPicks = true};

// One call's view of the position: player2's hand H, the play to beat L of
// type T, and how many cards of each rank H holds.
class Generator {
 public:
  Generator(GameNode* node, int depth, Rules rules)
      : node_(node),
        depth_(depth),
        rules_(rules),
        last_(node->lastPlay),
        lastType_(node->playType) {
    for (const char* c = node->u2Cards; *c; ++c) {
      int r = rankOf(static_cast<unsigned char>(*c));
      if (r >= 0) ++held_[r];
    }
  }

  void run() {
    plays::ToBeat last;
    if (lastType_ != TYPE_PASS) {
      const int r = rankOf(static_cast<unsigned char>(last_[0]));
      last = plays::ToBeat{lastType_, static_cast<int>(std::strlen(last_)), r < 0 ? 0 : r};
    }
    plays::forEachPlay<TABLE>(plays::HandRanks::counted(held_), last, rules_, *this);
  }

  // The enumeration's visitor: each play becomes a child.
  bool operator()(const plays::Candidate& c) {
    if (c.type == TYPE_PASS) {
      pass();
      return true;
    }
    char cards[CARD_FIELD];
    *c.write(cards) = '\0';
    emit(cards, c.type);
    return true;
  }
  int count(int rank) const { return held_[rank]; }
  // Picks of attached cards that repeat an earlier pick's cards: each makes
  // a node that the position test drops at once.
  void dropped(int64_t n) { nodeCount += n; }

 private:
  // Builds the child for one candidate and links it unless it cannot beat L.
  void emit(const char* cards, int code) {
    GameNode* child = newNode();
    copyPosition(child, node_);
    for (const char* c = cards; *c; ++c) del_1(child->u2Cards, *c);
    std::strcpy(child->lastPlay, cards);
    child->playType = code;
    child->turn = RESULT_U1;
    if (lastType_ != TYPE_PASS) {
      int smaller = cmpPzSmallN(cards, last_, code, lastType_);
      // Only one rocket exists in a deal, so it is offered against anything.
      if (smaller == 1 && code != TYPE_WZ) {
        deleteNode(child);
        return;
      }
    }
    addChild(node_, child);
    child->result = ZelkCN(child, depth_ + 1, rules_);
  }

  // The pass: only after a play; the other player then leads freely.
  void pass() {
    GameNode* child = newNode();
    copyPosition(child, node_);
    child->lastPlay[0] = '\0';
    child->playType = TYPE_PASS;
    child->turn = RESULT_U1;
    addChild(node_, child);
    child->result = ZelkCN(child, depth_ + 1, rules_);
  }

  GameNode* node_;
  int depth_;
  Rules rules_;
  const char* last_;
  int lastType_;
  int held_[RANK_COUNT] = {};
};

}  // namespace

char ZelkCN(GameNode* node, int depth, Rules rules) {
  if (node->u1Cards[0] == '\0') return RESULT_U1;
  if (node->u2Cards[0] == '\0') return RESULT_U2;
  if (node->turn == RESULT_U1) return RESULT_U1;
  if (node->turn != RESULT_U2) {
    ConsolePrint(0, u"ZelkCN:异常..\r\n");
    return RESULT_OPEN;
  }
  Generator(node, depth, rules).run();
  return RESULT_U1;
}

char ZelkCN(GameNode* node, int depth) { return ZelkCN(node, depth, currentRules()); }

}  // namespace zelk
