// The solver against a literal transcription of its play table.
//
// The literal solver below walks hand positions exactly as the table words
// it: every pick of kicker and wing positions makes a node, duplicates are
// found with findC and deleted, cards leave the hand with del_1. The real
// solver takes shortcuts (per-rank counts, duplicate picks counted instead of
// made); it must give the same verdict, the same tree and the same count of
// positions created, on many random positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/output.h"
#include "capture.h"
#include "rules/cards.h"
#include "rules/playtypes.h"
#include "rules/switches.h"
#include "solver/gamenode.h"
#include "solver/solver.h"

namespace zelk {
namespace {

const char* const STRAIGHTS = "34567890JQKA";
const char* const PAIRS = "3344556677889900JJQQKKAA";
const char* const TRIPLES = "333444555666777888999000JJJQQQKKKAAA";

struct Literal {
  GameNode* node;
  int depth;
  char mover, other;
  std::string h;
  int n, m, T, lastRank;

  bool firstPos(int i) const { return i == 0 || h[i] != h[i - 1]; }
  bool beats(char c) const { return T == 0 || c2sn(c) > lastRank; }
  bool gate(int type) const { return T == 0 || T == type; }

  GameNode* make(const std::string& play, int type) {
    GameNode* c = newNode();
    copyPosition(c, node);
    char* hand = mover == '2' ? c->u2Cards : c->u1Cards;
    for (char card : play) del_1(hand, card);
    std::strcpy(c->lastPlay, play.c_str());
    c->playType = type;
    c->turn = other;
    return c;
  }

  // Returns true when the play wins (then the node is decided).
  bool link(GameNode* c);
  bool cand(const std::string& play, int type, bool dedupe) {
    GameNode* c = make(play, type);
    if (dedupe && findC(node, c->u1Cards, c->u2Cards, c->lastPlay, false)) {
      deleteNode(c);
      return false;
    }
    return link(c);
  }

  bool stands(const std::string& slice, int width) const {
    for (std::size_t i = 0; i < slice.size(); i += width)
      if (h.find(slice.substr(i, width)) == std::string::npos) return false;
    return true;
  }

  char run();
};

char literalSolve(GameNode* node, int depth);

bool Literal::link(GameNode* c) {
  addChild(node, c);
  char r = literalSolve(c, depth + 1);
  c->result = r;
  if (r == mover) {
    KillBrother(node, c);
    return true;
  }
  return false;
}

char Literal::run() {
  auto s1 = [](char c) { return std::string(1, c); };
  // 1 pairs
  if (on(F_TYPE_D) && gate(TYPE_D) && n >= 2)
    for (int i = 0; i <= n - 2; ++i)
      if (firstPos(i) && h[i + 1] == h[i] && beats(h[i]) && cand(h.substr(i, 2), TYPE_D, false))
        return mover;
  // 2 threes
  if (on(F_TYPE_3) && gate(TYPE_3) && n >= 3)
    for (int i = 0; i <= n - 3; ++i)
      if (firstPos(i) && h[i + 1] == h[i] && h[i + 2] == h[i] && beats(h[i]) &&
          cand(h.substr(i, 3), TYPE_3, false))
        return mover;
  // 3 straights
  if (on(F_TYPE_SZ) && gate(TYPE_SZ))
    for (int w = 5; w <= 12 && w <= n; ++w) {
      if (T != 0 && w != m) continue;
      for (int s = 0; s <= 12 - w; ++s) {
        std::string c(STRAIGHTS + s, w);
        bool in = true;
        for (char x : c) in = in && h.find(x) != std::string::npos;
        if (beats(c[0]) && in && cand(c, TYPE_SZ, false)) return mover;
      }
    }
  auto threeAt = [&](int i) {
    return i <= n - 3 && firstPos(i) && h[i + 1] == h[i] && h[i + 2] == h[i] && beats(h[i]);
  };
  // 4 three with a single
  if (on(F_TYPE_31) && gate(TYPE_31) && n >= 3)
    for (int i = 0; i < n; ++i)
      if (threeAt(i))
        for (int j = 0; j < n; ++j)
          if (firstPos(j) && h[j] != h[i] && cand(h.substr(i, 3) + s1(h[j]), TYPE_31, false))
            return mover;
  // 5 three with a pair
  if (on(F_TYPE_32) && gate(TYPE_32))
    for (int i = 0; i < n; ++i)
      if (threeAt(i))
        for (int j = 0; j <= n - 2; ++j)
          if (firstPos(j) && h[j + 1] == h[j] && h[j] != h[i] &&
              cand(h.substr(i, 3) + h.substr(j, 2), TYPE_32, false))
            return mover;
  auto fourAt = [&](int i) {
    return i <= n - 4 && h[i] == h[i + 1] && h[i] == h[i + 2] && h[i] == h[i + 3];
  };
  // 6 four with two singles
  if (on(F_TYPE_411) && gate(TYPE_411) && n >= 4)
    for (int i = 0; i < n; ++i)
      if (fourAt(i) && beats(h[i]))
        for (int j = 0; j < n; ++j)
          for (int k = j + 1; k < n; ++k)
            if (h[j] != h[i] && h[k] != h[i] &&
                cand(h.substr(i, 4) + s1(h[j]) + s1(h[k]), TYPE_411, true))
              return mover;
  // 7 four with two pairs
  if (on(F_TYPE_422) && gate(TYPE_422) && n >= 4)
    for (int i = 0; i < n; ++i)
      if (fourAt(i) && beats(h[i]))
        for (int j = 0; j <= n - 2; ++j)
          for (int k = j + 1; k <= n - 2; ++k)
            if (firstPos(j) && firstPos(k) && h[j + 1] == h[j] && h[k + 1] == h[k] &&
                h[j] != h[k] && h[j] != h[i] && h[k] != h[i] &&
                cand(h.substr(i, 4) + h.substr(j, 2) + h.substr(k, 2), TYPE_422, false))
              return mover;
  // 8 runs of pairs, 9 airplanes
  if (on(F_TYPE_LD) && gate(TYPE_LD))
    for (int w = 6; w <= 20 && w <= n; w += 2) {
      if (T != 0 && w != m) continue;
      for (int s = 0; s + w <= 24; s += 2) {
        std::string c(PAIRS + s, w);
        if (beats(c[0]) && stands(c, 2) && cand(c, TYPE_LD, false)) return mover;
      }
    }
  if (on(F_TYPE_F) && gate(TYPE_F))
    for (int w = 6; w <= 21 && w <= n; w += 3) {
      if (T != 0 && w != m) continue;
      for (int s = 0; s + w <= 36; s += 3) {
        std::string c(TRIPLES + s, w);
        if (beats(c[0]) && stands(c, 3) && cand(c, TYPE_F, false)) return mover;
      }
    }
  auto notIn = [](const std::string& run, char x) { return run.find(x) == std::string::npos; };
  // 10, 11 airplanes with single wings
  if (on(F_TYPE_F11) && gate(TYPE_F11) && n >= 8 && (T == 0 || m == 8))
    for (int s = 0; s <= 30; s += 3) {
      std::string c(TRIPLES + s, 6);
      if (!beats(c[0]) || !stands(c, 3)) continue;
      for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
          if (notIn(c, h[i]) && notIn(c, h[j]) && cand(c + s1(h[i]) + s1(h[j]), TYPE_F11, true))
            return mover;
    }
  if (on(F_TYPE_F11) && gate(TYPE_F11) && n >= 12 && (T == 0 || m == 12))
    for (int s = 0; s <= 27; s += 3) {
      std::string c(TRIPLES + s, 9);
      if (!beats(c[0]) || !stands(c, 3)) continue;
      for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
          for (int k = j + 1; k < n; ++k)
            if (notIn(c, h[i]) && notIn(c, h[j]) && notIn(c, h[k]) &&
                cand(c + s1(h[i]) + s1(h[j]) + s1(h[k]), TYPE_F11, true))
              return mover;
    }
  // 12, 13 airplanes with pair wings
  auto pairAt = [&](int i, const std::string& c) {
    return i <= n - 2 && firstPos(i) && h[i + 1] == h[i] && notIn(c, h[i]);
  };
  if (on(F_TYPE_F22) && gate(TYPE_F22) && n >= 10 && (T == 0 || m == 10))
    for (int s = 0; s <= 30; s += 3) {
      std::string c(TRIPLES + s, 6);
      if (!beats(c[0]) || !stands(c, 3)) continue;
      for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
          if (pairAt(i, c) && pairAt(j, c) && h[i] != h[j] &&
              cand(c + h.substr(i, 2) + h.substr(j, 2), TYPE_F22, false))
            return mover;
    }
  if (on(F_TYPE_F22) && gate(TYPE_F22) && n >= 15 && (T == 0 || m == 15))
    for (int s = 0; s <= 27; s += 3) {
      std::string c(TRIPLES + s, 9);
      if (!beats(c[0]) || !stands(c, 3)) continue;
      for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
          for (int k = j + 1; k < n; ++k)
            if (pairAt(i, c) && pairAt(j, c) && pairAt(k, c) && h[i] != h[j] && h[j] != h[k] &&
                cand(c + h.substr(i, 2) + h.substr(j, 2) + h.substr(k, 2), TYPE_F22, false))
              return mover;
    }
  // 14 bombs: made, then compared with the play to beat
  if (on(F_TYPE_ZD) && n >= 4)
    for (int i = 0; i < n; ++i)
      if (fourAt(i)) {
        GameNode* c = make(h.substr(i, 4), TYPE_ZD);
        if (T != 0 && cmpPzSmallN(c->lastPlay, node->lastPlay, TYPE_ZD, T) == 1) {
          deleteNode(c);
          continue;
        }
        if (link(c)) return mover;
      }
  // 15 rocket
  if (on(F_TYPE_WZ) && h.find("XY") != std::string::npos && cand("XY", TYPE_WZ, false))
    return mover;
  // 16 singles
  if (gate(TYPE_G))
    for (int i = 0; i < n; ++i)
      if (firstPos(i) && beats(h[i]) && cand(s1(h[i]), TYPE_G, false)) return mover;
  // 17 pass
  if (T != 0) {
    GameNode* c = newNode();
    copyPosition(c, node);
    c->lastPlay[0] = '\0';
    c->playType = 0;
    c->turn = other;
    if (link(c)) return mover;
  }
  return other;
}

char literalSolve(GameNode* node, int depth) {
  if (node->u1Cards[0] == '\0') return '1';
  if (node->u2Cards[0] == '\0') return '2';
  Literal l;
  l.node = node;
  l.depth = depth;
  l.mover = node->turn;
  l.other = node->turn == '1' ? '2' : '1';
  l.h = node->turn == '2' ? node->u2Cards : node->u1Cards;
  l.n = static_cast<int>(l.h.size());
  l.m = static_cast<int>(std::strlen(node->lastPlay));
  l.T = node->playType;
  l.lastRank = l.T ? c2sn(node->lastPlay[0]) : -1;
  return l.run();
}

// Same shape, same strings, same results, node by node.
void expectSameTree(const GameNode* a, const GameNode* b, const std::string& path) {
  while (a && b) {
    ASSERT_STREQ(a->u1Cards, b->u1Cards) << path;
    ASSERT_STREQ(a->u2Cards, b->u2Cards) << path;
    ASSERT_STREQ(a->lastPlay, b->lastPlay) << path;
    ASSERT_EQ(a->playType, b->playType) << path;
    ASSERT_EQ(a->turn, b->turn) << path;
    ASSERT_EQ(a->result, b->result) << path;
    expectSameTree(a->child, b->child, path + "/" + a->lastPlay);
    a = a->next;
    b = b->next;
  }
  ASSERT_EQ(a == nullptr, b == nullptr) << path << ": sibling lists differ in length";
}

GameNode* rootOf(const std::string& u1, const std::string& u2, const std::string& last, int type,
                 char turn) {
  GameNode* r = newNode();
  std::strcpy(r->u1Cards, u1.c_str());
  std::strcpy(r->u2Cards, u2.c_str());
  std::strcpy(r->lastPlay, last.c_str());
  r->playType = type;
  r->turn = turn;
  return r;
}

std::string randomHand(std::mt19937& rng, int size, int groupBias) {
  int counts[15] = {};
  std::string h;
  std::uniform_int_distribution<int> rank(0, 14), coin(0, 99);
  while (static_cast<int>(h.size()) < size) {
    int r = rank(rng);
    int limit = r >= 13 ? 1 : 4;
    int take = coin(rng) < groupBias ? 3 : 1;
    for (int t = 0; t < take && counts[r] < limit && static_cast<int>(h.size()) < size; ++t) {
      ++counts[r];
      h.push_back(RANK_ORDER[r]);
    }
  }
  sortCardsAsc(h);
  return h;
}

class SolverLiteral : public ::testing::Test {
 protected:
  // Progress lines (when a ticker runs) need a console to go to.
  void SetUp() override {
    setConsole(std::make_shared<testing::RecordingConsole>());
    setStop(0);
  }
  void TearDown() override {
    setConsole(nullptr);
    resetRuleSwitches();
    while (mStrSeq.take()) {
    }
  }

  // Solves the position with both solvers and compares everything.
  void check(const std::string& u1, const std::string& u2, const std::string& last, int type,
             char turn) {
    std::string what = "u1=" + u1 + " u2=" + u2 + " last=" + last + " turn=" + turn;
    nodeCount = 0;
    GameNode* a = rootOf(u1, u2, last, type, turn);
    a->result = ZelkSolver(a, 0);
    int64_t fastCount = nodeCount;
    nodeCount = 0;
    GameNode* b = rootOf(u1, u2, last, type, turn);
    b->result = literalSolve(b, 0);
    EXPECT_EQ(fastCount, nodeCount) << what;
    expectSameTree(a, b, what);
    deleteNode(a);
    deleteNode(b);
  }
};

TEST_F(SolverLiteral, DefaultEndgameAndItsCounts) {
  nodeCount = 0;
  GameNode* root = rootOf("AA9", "35577JJQQ2", "", 0, '2');
  root->result = ZelkSolver(root, 0);
  EXPECT_EQ(root->result, '1');
  EXPECT_EQ(nodeCount, 3823);
  EXPECT_EQ(countNodes(root), 3083);
  deleteNode(root);
  check("9AA", "35577JJQQ2", "", 0, '2');
}

TEST_F(SolverLiteral, RandomSmallEndgamesWithRandomSwitches) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 400; ++round) {
    for (const RuleSwitch& s : RULE_SWITCHES) setFlag(*s.flag, rng() % 4 != 0);
    int n1 = 1 + rng() % 6, n2 = 1 + rng() % 6;
    check(randomHand(rng, n1, 40), randomHand(rng, n2, 40), "", 0, rng() % 2 ? '2' : '1');
  }
}

// The rocket against a big hand full of triples and fours: whatever the big
// hand leads, the rocket answers and wins, so the big hand must try every
// play it has, every wing pick of the airplanes and of the four with two
// singles included.
TEST_F(SolverLiteral, BigHandsWithWingsAndDuplicatePicks) {
  std::mt19937 rng(7);
  for (int round = 0; round < 60; ++round) {
    for (const RuleSwitch& s : RULE_SWITCHES) setFlag(*s.flag, rng() % 5 != 0);
    setFlag(F_TYPE_WZ, 1);
    std::string big = randomHand(rng, 12 + rng() % 7, 70);
    big.erase(std::remove_if(big.begin(), big.end(), [](char c) { return c == 'X' || c == 'Y'; }),
              big.end());
    check("XY", big, "", 0, '2');
    check(big, "XY", "", 0, '1');
  }
}

// Few cards against many, with many kinds switched off: the winning play is
// often a late kind, found after duplicate picks of its wings.
TEST_F(SolverLiteral, WinsFoundLateAmongDuplicatePicks) {
  std::mt19937 rng(11);
  for (int round = 0; round < 120; ++round) {
    for (const RuleSwitch& s : RULE_SWITCHES) setFlag(*s.flag, rng() % 2);
    setFlag(F_TYPE_F11, 1);
    setFlag(F_TYPE_411, 1);
    check(randomHand(rng, 1 + rng() % 3, 0), randomHand(rng, 12 + rng() % 4, 75), "", 0, '2');
  }
}

// A three-triple airplane that wins after duplicate picks of its wings.
TEST_F(SolverLiteral, AirplaneWinAfterDuplicateWingPicks) {
  for (const RuleSwitch& s : RULE_SWITCHES) setFlag(*s.flag, 0);
  setFlag(F_TYPE_422, 1);
  setFlag(F_TYPE_F11, 1);
  setFlag(F_TYPE_SZ, 1);
  check("Y", "888999000QQQX", "", 0, '2');
}

TEST_F(SolverLiteral, RepliesToEveryKind) {
  struct Case {
    const char* u1;
    const char* u2;
    const char* last;
    int type;
  } cases[] = {
      {"XY", "333444555666KKK", "333444555JQK", TYPE_F11},  // cross-start duplicates
      {"XY", "333444555666777", "333444555JQK", TYPE_F11},
      {"XY", "444555666777888", "333444555JQK", TYPE_F11},
      {"XY", "3334445556667778", "333444555666", TYPE_F},
      {"XY", "44445556", "333344", TYPE_411},
      {"XY", "5555667", "444436", TYPE_411},
      {"XY", "55556677", "44443366", TYPE_422},
      {"XY", "4445556677", "3334448899", TYPE_F22},
      {"XY", "44455566678899", "33344456", TYPE_F11},
      {"XY", "4567890JQ", "34567", TYPE_SZ},
      {"XY", "4455667788", "334455", TYPE_LD},
      {"XY", "44445555", "3333", TYPE_ZD},
      {"3", "44445555", "XY", TYPE_WZ},
      {"XY", "5556", "4443", TYPE_31},
      {"XY", "55566", "44433", TYPE_32},
  };
  for (const Case& c : cases) {
    check(c.u1, c.u2, c.last, c.type, '2');
    check(c.u2, c.u1, c.last, c.type, '1');
  }
}

}  // namespace
}  // namespace zelk
