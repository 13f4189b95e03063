#include "solver/movegen.h"

#include <cassert>
#include <cstring>

#include "base/output.h"
#include "rules/cards.h"
#include "rules/playtypes.h"
#include "rules/switches.h"

namespace zelk {

namespace {

// Runs are cut from these; 2 and the jokers never take part in one.
constexpr char STRAIGHT_TEMPLATE[] = "34567890JQKA";
constexpr char PAIRS_TEMPLATE[] = "3344556677889900JJQQKKAA";
constexpr char TRIPLES_TEMPLATE[] = "333444555666777888999000JJJQQQKKKAAA";
constexpr int STRAIGHT_RANKS = 12;
constexpr char ROCKET[] = "XY";

// A candidate play under construction: at most a 21-card airplane.
struct Play {
  char cards[CARD_FIELD] = {};
  int length = 0;

  void add(char card) {
    assert(length < MAXPN);
    cards[length++] = card;
    cards[length] = '\0';
  }
  void add(const char* from, int count) {
    for (int i = 0; i < count; ++i) add(from[i]);
  }
  void truncate(int newLength) {
    length = newLength;
    cards[length] = '\0';
  }
};

// One call's view of the position: player2's hand H, the play to beat L of
// type T, and how many cards of each rank H holds (runs are tested on those
// counts; H is sorted, so "every pair of the slice occurs as two adjacent
// equal cards" is the same as "two or more of that rank").
class Generator {
 public:
  Generator(GameNode* node, int depth)
      : node_(node),
        depth_(depth),
        hand_(node->u2Cards),
        last_(node->lastPlay),
        lastType_(node->playType) {
    handLength_ = static_cast<int>(std::strlen(hand_));
    for (int i = 0; i < handLength_; ++i) {
      int r = rankOf(static_cast<unsigned char>(hand_[i]));
      if (r >= 0) ++held_[r];
    }
  }

  void run() {
    if (on(F_TYPE_D) && gate(TYPE_D) && handLength_ >= 2) pairs();
    if (on(F_TYPE_3) && gate(TYPE_3) && handLength_ >= 3) threes();
    if (on(F_TYPE_SZ) && gate(TYPE_SZ)) straights();
    if (on(F_TYPE_31) && gate(TYPE_31) && handLength_ >= 3) threesWithSingle();
    if (on(F_TYPE_32) && gate(TYPE_32) && handLength_ >= 3) threesWithPair();
    if (on(F_TYPE_411) && gate(TYPE_411) && handLength_ >= 4) foursWithTwo();
    if (on(F_TYPE_422) && gate(TYPE_422) && handLength_ >= 4) foursWithTwoPairs();
    if (on(F_TYPE_LD) && gate(TYPE_LD)) runsOfPairs();
    if (on(F_TYPE_F) && gate(TYPE_F)) airplanes();
    if (on(F_TYPE_F11) && gate(TYPE_F11) && handLength_ >= 8) airplanesSingleWings(2);
    if (on(F_TYPE_F11) && gate(TYPE_F11) && handLength_ >= 12) airplanesSingleWings(3);
    if (on(F_TYPE_F22) && gate(TYPE_F22) && handLength_ >= 10) airplanesPairWings(2);
    if (on(F_TYPE_F22) && gate(TYPE_F22) && handLength_ >= 15) airplanesPairWings(3);
    if (on(F_TYPE_ZD)) bombs();
    if (on(F_TYPE_WZ) && std::strstr(hand_, ROCKET)) emit(ROCKET, TYPE_WZ, false);
    if (gate(TYPE_G)) singles();
    if (lastType_ != TYPE_PASS) pass();
  }

 private:
  // Leading allows every kind; a reply only the kind of the play to beat.
  bool gate(int code) const { return lastType_ == TYPE_PASS || lastType_ == code; }

  bool firstPosition(int i) const { return i == 0 || hand_[i] != hand_[i - 1]; }
  bool heldAtLeast(char card, int count) const {
    return held_[rankOf(static_cast<unsigned char>(card))] >= count;
  }

  // Every `step`-th card of the slice names one rank of the run.
  bool runStands(const char* slice, int length, int step) const {
    for (int i = 0; i < length; i += step)
      if (!heldAtLeast(slice[i], step)) return false;
    return true;
  }

  // Builds the child for one candidate and links it unless it cannot beat L
  // or (for kinds whose candidates can repeat) an equal position is linked.
  void emit(const char* cards, int code, bool dropDuplicates) {
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
    if (dropDuplicates &&
        findC(node_, child->u1Cards, child->u2Cards, child->lastPlay, false) != nullptr) {
      deleteNode(child);
      return;
    }
    addChild(node_, child);
    child->result = ZelkCN(child, depth_ + 1);
  }

  // Pairs, once per rank.
  void pairs() {
    for (int i = 0; i <= handLength_ - 2; ++i) {
      if (!firstPosition(i) || hand_[i + 1] != hand_[i]) continue;
      Play p;
      p.add(hand_ + i, 2);
      emit(p.cards, TYPE_D, false);
    }
  }

  // The start of each three, in ascending rank (threes, with or without attached cards).
  bool threeAt(int i) const {
    return i <= handLength_ - 3 && firstPosition(i) && hand_[i + 1] == hand_[i] &&
           hand_[i + 2] == hand_[i];
  }

  // Threes, once per rank.
  void threes() {
    for (int i = 0; i <= handLength_ - 3; ++i) {
      if (!threeAt(i)) continue;
      Play p;
      p.add(hand_ + i, 3);
      emit(p.cards, TYPE_3, false);
    }
  }

  // Straights: every length first, then every start.
  void straights() {
    for (int k = 5; k <= STRAIGHT_RANKS && k <= handLength_; ++k) {
      for (int s = 0; s <= STRAIGHT_RANKS - k; ++s) {
        if (!runStands(STRAIGHT_TEMPLATE + s, k, 1)) continue;
        Play p;
        p.add(STRAIGHT_TEMPLATE + s, k);
        emit(p.cards, TYPE_SZ, false);
      }
    }
  }

  // Three with a single: the kicker is any other rank, once per rank.
  void threesWithSingle() {
    for (int i = 0; i <= handLength_ - 3; ++i) {
      if (!threeAt(i)) continue;
      for (int j = 0; j < handLength_; ++j) {
        if (!firstPosition(j) || hand_[j] == hand_[i]) continue;
        Play p;
        p.add(hand_ + i, 3);
        p.add(hand_[j]);
        emit(p.cards, TYPE_31, false);
      }
    }
  }

  // Three with a pair of another rank.
  void threesWithPair() {
    for (int i = 0; i <= handLength_ - 3; ++i) {
      if (!threeAt(i)) continue;
      for (int j = 0; j <= handLength_ - 2; ++j) {
        if (!firstPosition(j) || hand_[j + 1] != hand_[j] || hand_[j] == hand_[i]) continue;
        Play p;
        p.add(hand_ + i, 3);
        p.add(hand_ + j, 2);
        emit(p.cards, TYPE_32, false);
      }
    }
  }

  bool fourAt(int i) const {
    return hand_[i + 1] == hand_[i] && hand_[i + 2] == hand_[i] && hand_[i + 3] == hand_[i];
  }

  // Four with two: the two cards come from any positions, so the same play
  // can be formed twice (from either of two equal cards); the position test
  // keeps one.
  void foursWithTwo() {
    for (int i = 0; i <= handLength_ - 4; ++i) {
      if (!fourAt(i)) continue;
      for (int j = 0; j < handLength_; ++j) {
        for (int k = j + 1; k < handLength_; ++k) {
          if (hand_[j] == hand_[i] || hand_[k] == hand_[i]) continue;
          Play p;
          p.add(hand_ + i, 4);
          p.add(hand_[j]);
          p.add(hand_[k]);
          emit(p.cards, TYPE_411, true);
        }
      }
    }
  }

  bool pairAt(int j) const {
    return j <= handLength_ - 2 && firstPosition(j) && hand_[j + 1] == hand_[j];
  }

  // Four with two pairs: pairs at first positions only, so no play repeats.
  void foursWithTwoPairs() {
    for (int i = 0; i <= handLength_ - 4; ++i) {
      if (!fourAt(i)) continue;
      for (int j = 0; j <= handLength_ - 2; ++j) {
        if (!pairAt(j) || hand_[j] == hand_[i]) continue;
        for (int k = j + 1; k <= handLength_ - 2; ++k) {
          if (!pairAt(k) || hand_[k] == hand_[j] || hand_[k] == hand_[i]) continue;
          Play p;
          p.add(hand_ + i, 4);
          p.add(hand_ + j, 2);
          p.add(hand_ + k, 2);
          emit(p.cards, TYPE_422, false);
        }
      }
    }
  }

  // Runs of pairs: at most 10 pairs, although the template holds 12.
  void runsOfPairs() {
    const int templateLength = static_cast<int>(sizeof(PAIRS_TEMPLATE)) - 1;
    for (int k = 6; k <= 20 && k <= handLength_; k += 2) {
      for (int s = 0; s <= 20 && s + k <= templateLength; s += 2) {
        if (!runStands(PAIRS_TEMPLATE + s, k, 2)) continue;
        Play p;
        p.add(PAIRS_TEMPLATE + s, k);
        emit(p.cards, TYPE_LD, false);
      }
    }
  }

  // Airplanes: at most 7 triples.
  void airplanes() {
    const int templateLength = static_cast<int>(sizeof(TRIPLES_TEMPLATE)) - 1;
    for (int k = 6; k <= 21 && k <= handLength_; k += 3) {
      for (int s = 0; s <= 30 && s + k <= templateLength; s += 3) {
        if (!runStands(TRIPLES_TEMPLATE + s, k, 3)) continue;
        Play p;
        p.add(TRIPLES_TEMPLATE + s, k);
        emit(p.cards, TYPE_F, false);
      }
    }
  }

  // True when H[i] is of a rank of the `triples` triples that start the slice.
  static bool ofRun(const char* slice, int triples, char card) {
    for (int t = 0; t < triples; ++t)
      if (slice[3 * t] == card) return true;
    return false;
  }

  // Airplanes with single wings: the wings come from any positions, so two
  // or three wings may share a rank and the same cards may be formed several
  // ways (also as a plain airplane, or from another start); the position
  // test keeps the first.
  void airplanesSingleWings(int triples) {
    const int sliceLength = 3 * triples;
    const int lastStart = 36 - sliceLength;
    for (int s = 0; s <= lastStart; s += 3) {
      const char* slice = TRIPLES_TEMPLATE + s;
      if (!runStands(slice, sliceLength, 3)) continue;
      Play p;
      p.add(slice, sliceLength);
      for (int i = 0; i < handLength_; ++i) {
        if (ofRun(slice, triples, hand_[i])) continue;
        for (int j = i + 1; j < handLength_; ++j) {
          if (ofRun(slice, triples, hand_[j])) continue;
          if (triples == 2) {
            p.truncate(sliceLength);
            p.add(hand_[i]);
            p.add(hand_[j]);
            emit(p.cards, TYPE_F11, true);
            continue;
          }
          for (int k = j + 1; k < handLength_; ++k) {
            if (ofRun(slice, triples, hand_[k])) continue;
            p.truncate(sliceLength);
            p.add(hand_[i]);
            p.add(hand_[j]);
            p.add(hand_[k]);
            emit(p.cards, TYPE_F11, true);
          }
        }
      }
    }
  }

  // Airplanes with pair wings: pair wings of different ranks, at first positions only.
  void airplanesPairWings(int triples) {
    const int sliceLength = 3 * triples;
    const int lastStart = 36 - sliceLength;
    for (int s = 0; s <= lastStart; s += 3) {
      const char* slice = TRIPLES_TEMPLATE + s;
      if (!runStands(slice, sliceLength, 3)) continue;
      Play p;
      p.add(slice, sliceLength);
      for (int i = 0; i <= handLength_ - 2; ++i) {
        if (!pairAt(i) || ofRun(slice, triples, hand_[i])) continue;
        for (int j = i + 1; j <= handLength_ - 2; ++j) {
          if (!pairAt(j) || hand_[j] == hand_[i] || ofRun(slice, triples, hand_[j])) continue;
          if (triples == 2) {
            p.truncate(sliceLength);
            p.add(hand_ + i, 2);
            p.add(hand_ + j, 2);
            emit(p.cards, TYPE_F22, false);
            continue;
          }
          for (int k = j + 1; k <= handLength_ - 2; ++k) {
            if (!pairAt(k) || hand_[k] == hand_[j] || ofRun(slice, triples, hand_[k])) continue;
            p.truncate(sliceLength);
            p.add(hand_ + i, 2);
            p.add(hand_ + j, 2);
            p.add(hand_ + k, 2);
            emit(p.cards, TYPE_F22, false);
          }
        }
      }
    }
  }

  // Bombs: on anything; the comparison lets through only what beats L.
  void bombs() {
    for (int i = 0; i <= handLength_ - 4; ++i) {
      if (!fourAt(i)) continue;
      Play p;
      p.add(hand_ + i, 4);
      emit(p.cards, TYPE_ZD, false);
    }
  }

  // Singles: the rank test comes before the node, so a single that cannot
  // beat L costs nothing.
  void singles() {
    for (int i = 0; i < handLength_; ++i) {
      if (!firstPosition(i)) continue;
      if (lastType_ != TYPE_PASS &&
          c2sn(static_cast<unsigned char>(hand_[i])) <= c2sn(static_cast<unsigned char>(last_[0])))
        continue;
      Play p;
      p.add(hand_[i]);
      emit(p.cards, TYPE_G, false);
    }
  }

  // The pass: only after a play; the other player then leads freely.
  void pass() {
    GameNode* child = newNode();
    copyPosition(child, node_);
    child->lastPlay[0] = '\0';
    child->playType = TYPE_PASS;
    child->turn = RESULT_U1;
    addChild(node_, child);
    child->result = ZelkCN(child, depth_ + 1);
  }

  GameNode* node_;
  int depth_;
  const char* hand_;
  const char* last_;
  int lastType_;
  int handLength_ = 0;
  int held_[RANK_COUNT] = {};
};

}  // namespace

char ZelkCN(GameNode* node, int depth) {
  if (node->u1Cards[0] == '\0') return RESULT_U1;
  if (node->u2Cards[0] == '\0') return RESULT_U2;
  if (node->turn == RESULT_U1) return RESULT_U1;
  if (node->turn != RESULT_U2) {
    ConsolePrint(0, u"ZelkCN:异常..\r\n");
    return RESULT_OPEN;
  }
  Generator(node, depth).run();
  return RESULT_U1;
}

}  // namespace zelk
