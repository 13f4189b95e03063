// The fast engine against the exhaustive solver itself: on random small
// endgames under random rule switches, the same verdict and, when the mover
// wins, the same first winning play (the one child the solver keeps).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/output.h"
#include "rules/cards.h"
#include "rules/switches.h"
#include "solver/fastengine.h"
#include "solver/gamenode.h"
#include "solver/solver.h"

namespace zelk {
namespace {

std::string sortedAsc(std::string s) {
  std::sort(s.begin(), s.end(), [](char a, char b) { return rankOf(a) < rankOf(b); });
  return s;
}

class FastVersusExhaustive : public ::testing::Test {
 protected:
  void TearDown() override {
    resetRuleSwitches();
    setStop(0);
  }
};

TEST_F(FastVersusExhaustive, SameVerdictsAndFirstWinningPlays) {
  std::mt19937 rng(2024);
  FastEngine engine(std::size_t(8) << 20);
  engine.setProgress(false);
  int wins = 0, losses = 0;
  for (int round = 0; round < 2000; ++round) {
    fast::applyRules(round % 4 == 0 ? static_cast<fast::Rules>(fast::R_ALL)
                                    : static_cast<fast::Rules>(rng() & fast::R_ALL));
    // A narrow band of ranks, so that combinations are common.
    std::string deck;
    int first = static_cast<int>(rng() % 9);
    for (int r = first; r < first + 4; ++r) deck.append(4, RANK_ORDER[r]);
    deck += "22XY";
    std::shuffle(deck.begin(), deck.end(), rng);
    std::size_t n1 = 1 + rng() % 8, n2 = 1 + rng() % 8;
    if (n1 + n2 > 14) n2 = 14 - n1;  // keeps the exhaustive search to milliseconds
    std::string u1 = sortedAsc(deck.substr(0, n1)), u2 = sortedAsc(deck.substr(n1, n2));
    const char turn = round % 3 == 0 ? '1' : '2';
    // Every fifth position is from mid-game: a play of the rest of the deck to beat.
    std::string last;
    int lastType = TYPE_PASS;
    fast::Hand rest = 0;
    if (round % 5 == 1 && fast::handFromCards(deck.substr(n1 + n2), rest)) {
      std::vector<fast::Move> moves(fast::MAX_MOVES);
      const int n = fast::generateMoves(rest, fast::Beat{}, fast::currentRules(), moves.data());
      const fast::Move& m = moves[rng() % static_cast<unsigned>(n)];
      last = fast::moveCards(m);
      lastType = m.type;
    }

    GameNode* root = newNode();
    std::copy(u1.begin(), u1.end(), root->u1Cards);
    std::copy(u2.begin(), u2.end(), root->u2Cards);
    std::copy(last.begin(), last.end(), root->lastPlay);
    root->playType = lastType;
    root->turn = turn;
    root->result = ZelkSolver(root, 0);
    ASSERT_EQ(engine.solve(u1.c_str(), u2.c_str(), last.c_str(), lastType, turn), root->result)
        << u1 << " / " << u2 << " turn " << turn << " to beat " << last;
    FastEngine::Answer a = engine.bestMove(u1.c_str(), u2.c_str(), last.c_str(), lastType, turn);
    ASSERT_EQ(a.found, root->result == turn);
    if (a.found) {
      ++wins;
      ASSERT_NE(root->child, nullptr);
      EXPECT_EQ(a.cards, root->child->lastPlay) << u1 << " / " << u2 << " turn " << turn;
      EXPECT_EQ(a.type, root->child->playType);
    } else {
      ++losses;
    }
    deleteNode(root);
  }
  EXPECT_GT(wins, 200);
  EXPECT_GT(losses, 200);
}

}  // namespace
}  // namespace zelk
