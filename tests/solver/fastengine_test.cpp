// The fast engine against the slow reference search: verdicts and the
// machine's first winning play on random small endgames under random rules.
#include "solver/fastengine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/output.h"
#include "fastref.h"
#include "rules/cards.h"
#include "rules/switches.h"
#include "solver/nodepool.h"

namespace zelk {
namespace {

std::string sortedAsc(std::string s) {
  std::sort(s.begin(), s.end(), [](char a, char b) { return rankOf(a) < rankOf(b); });
  return s;
}

// Two hands from one shuffled pack; with twoPacks, from two (so both may hold a rocket).
void dealPair(std::mt19937& rng, int n1, int n2, bool twoPacks, std::string& u1, std::string& u2) {
  std::string pack;
  for (int r = 0; r < 13; ++r) pack.append(4, RANK_ORDER[r]);
  pack += "XY";
  std::string d1 = pack, d2 = pack;
  std::shuffle(d1.begin(), d1.end(), rng);
  if (twoPacks) {
    std::shuffle(d2.begin(), d2.end(), rng);
    u1 = d1.substr(0, static_cast<std::size_t>(n1));
    u2 = d2.substr(0, static_cast<std::size_t>(n2));
  } else {
    u1 = d1.substr(0, static_cast<std::size_t>(n1));
    u2 = d1.substr(static_cast<std::size_t>(n1), static_cast<std::size_t>(n2));
  }
  u1 = sortedAsc(u1);
  u2 = sortedAsc(u2);
}

class FastEngineTest : public ::testing::Test {
 protected:
  void TearDown() override {
    resetRuleSwitches();
    setStop(0);
  }
};

// Each split of the work between the two searches: as shipped (on these
// sizes mostly the depth-first search's first try), the proof-number search
// handing small positions to the depth-first one, and the proof-number
// search alone.
struct Split {
  const char* name;
  FastEngine::Tuning tuning;
};

void PrintTo(const Split& split, std::ostream* os) { *os << split.name; }

class AgreesWithReference : public FastEngineTest, public ::testing::WithParamInterface<Split> {};

TEST_P(AgreesWithReference, OnRandomEndgames) {
  std::mt19937 rng(7);
  FastEngine engine(std::size_t(1) << 22);  // small: replacement happens often
  engine.setProgress(false);
  engine.setTuning(GetParam().tuning);
  int wonByMover = 0;
  for (int round = 0; round < 600; ++round) {
    fast::Rules rules = round % 4 == 0 ? static_cast<fast::Rules>(fast::R_ALL)
                                       : static_cast<fast::Rules>(rng() & fast::R_ALL);
    fast::applyRules(rules);
    std::string u1, u2;
    // Mostly dealt for combinations: a narrow band of ranks.
    int n1 = 1 + static_cast<int>(rng() % 8), n2 = 1 + static_cast<int>(rng() % 8);
    dealPair(rng, n1, n2, round % 10 == 0, u1, u2);
    if (round % 2) {
      std::string narrow;
      int first = static_cast<int>(rng() % 9);
      for (int r = first; r < first + 4; ++r) narrow.append(4, RANK_ORDER[r]);
      narrow += "2XY";
      std::shuffle(narrow.begin(), narrow.end(), rng);
      u1 = sortedAsc(narrow.substr(0, static_cast<std::size_t>(n1)));
      u2 = sortedAsc(narrow.substr(static_cast<std::size_t>(n1),
                                   static_cast<std::size_t>(std::min(n2, 19 - n1))));
      if (u2.empty()) u2 = "Y";
    }
    const char turn = round % 3 == 0 ? '1' : '2';
    // Sometimes a play to beat, taken from the opponent's own options.
    std::string L;
    int T = 0;
    if (round % 5 == 1) {
      const std::string& opp = turn == '2' ? u1 : u2;
      auto plays = ref::generate(opp, "", 0, rules);
      const ref::Play& p = plays[rng() % plays.size()];
      L = p.cards;
      T = p.type;
    }
    char expected = ref::solve(u1, u2, L, T, turn, rules);
    ASSERT_EQ(engine.solve(u1.c_str(), u2.c_str(), L.c_str(), T, turn), expected)
        << u1 << " / " << u2 << " last " << L << " turn " << turn << " rules " << rules;
    bool found = false;
    ref::Play first = ref::firstWinningPlay(u1, u2, L, T, turn, rules, found);
    FastEngine::Answer a = engine.bestMove(u1.c_str(), u2.c_str(), L.c_str(), T, turn);
    ASSERT_EQ(a.found, found) << u1 << " / " << u2;
    ASSERT_EQ(a.result, expected);
    if (found) {
      ++wonByMover;
      ASSERT_EQ(a.cards, first.cards)
          << u1 << " / " << u2 << " last " << L << " turn " << turn << " rules " << rules;
      ASSERT_EQ(a.type, first.type);
    }
  }
  // Both outcomes occur often enough for the comparison to mean something.
  EXPECT_GT(wonByMover, 120);
  EXPECT_LT(wonByMover, 570);
}

INSTANTIATE_TEST_SUITE_P(
    Splits, AgreesWithReference,
    ::testing::Values(Split{"AsShipped", FastEngine::Tuning{}},
                      Split{"SmallPositionsDepthFirst", FastEngine::Tuning{0, 6, 0, 6}},
                      Split{"HalfTheCardsDepthFirst", FastEngine::Tuning{0, 2, 0, 8}},
                      Split{"ProofNumbersAlone", FastEngine::Tuning{0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<Split>& info) { return info.param.name; });

struct Published {
  const char* player2;
  const char* player1;
  char winner;
};

class PublishedEndgames : public ::testing::TestWithParam<Published> {};

TEST_P(PublishedEndgames, Winner) {
  resetRuleSwitches();
  FastEngine engine(std::size_t(64) << 20);
  engine.setProgress(false);
  const Published& p = GetParam();
  std::string u1 = sortedAsc(p.player1), u2 = sortedAsc(p.player2);
  EXPECT_EQ(engine.solve(u1.c_str(), u2.c_str(), "", 0, '2'), p.winner);
  FastEngine::Answer a = engine.bestMove(u1.c_str(), u2.c_str(), "", 0, '2');
  EXPECT_EQ(a.found, p.winner == '2');
}

// The two larger published endgames are in the benchmark (bench/fastbench).
INSTANTIATE_TEST_SUITE_P(Table, PublishedEndgames,
                         ::testing::Values(Published{"KK5543", "225543", '2'},
                                           Published{"2KK0077554", "AA8", '1'}));

// player1 to move wins each of these by attaching a pair of a rank held
// exactly twice that a run of pairs could still use (QQQ with JJ first, in
// the first row). The search once never attached such pairs.
struct RunRankPair {
  const char* player1;
  const char* player2;
  fast::Rules rules;
};

void PrintTo(const RunRankPair& p, std::ostream* os) { *os << p.player1 << " / " << p.player2; }

class PairsFromRunRanks : public FastEngineTest,
                          public ::testing::WithParamInterface<RunRankPair> {};

TEST_P(PairsFromRunRanks, Verdict) {
  const RunRankPair& p = GetParam();
  fast::applyRules(p.rules);
  FastEngine engine(std::size_t(1) << 20);
  engine.setProgress(false);
  const char expected = ref::solve(p.player1, p.player2, "", 0, '1', p.rules);
  EXPECT_EQ(expected, '1');
  EXPECT_EQ(engine.solve(p.player1, p.player2, "", 0, '1'), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PairsFromRunRanks,
                         ::testing::Values(RunRankPair{"000JJQQQ", "JKKK", 4331},
                                           RunRankPair{"333344556", "455662X", 7784},
                                           RunRankPair{"333344556", "6X", 1726},
                                           RunRankPair{"667778889", "6999", 4715},
                                           RunRankPair{"444556667", "45777Y", 8189}));

TEST_F(FastEngineTest, EdgePositions) {
  FastEngine engine(std::size_t(1) << 20);
  engine.setProgress(false);
  EXPECT_EQ(engine.solve("", "", "", 0, '2'), '1');  // player1 is tested first
  EXPECT_EQ(engine.solve("3", "", "", 0, '1'), '2');
  EXPECT_EQ(engine.solve("3", "4", "", 0, '2'), '2');
  EXPECT_EQ(engine.solve("3", "4", "", 0, 'x'), '3');
  EXPECT_EQ(engine.solve("3", "4Z", "", 0, '2'), '3');
  EXPECT_EQ(engine.solve("3", "4", "5", 42, '2'), '3');
  FastEngine::Answer a = engine.bestMove("3", "4", "", 0, '2');
  EXPECT_TRUE(a.found);
  EXPECT_EQ(a.cards, "4");
  EXPECT_EQ(a.type, TYPE_G);
  // A lost position has no winning play.
  a = engine.bestMove("2", "34", "", 0, '2');
  EXPECT_FALSE(a.found);
  EXPECT_EQ(a.result, '1');
}

TEST_F(FastEngineTest, StopsOnRequest) {
  FastEngine engine(std::size_t(1) << 20);
  engine.setProgress(false);
  setStop(1);
  EXPECT_EQ(engine.solve("345", "678", "", 0, '2'), RESULT_STOPPED);
  EXPECT_EQ(engine.bestMove("345", "678", "", 0, '2').result, RESULT_STOPPED);
  EXPECT_EQ(engine.positionsSearched(), 0);
  setStop(0);
  EXPECT_EQ(engine.solve("345", "678", "", 0, '2'), '2');
}

TEST_F(FastEngineTest, SwitchChangeForgetsProofs) {
  FastEngine engine(std::size_t(1) << 20);
  engine.setProgress(false);
  // Player2 leads 33 as a pair and wins at once; without pairs he must split them.
  EXPECT_EQ(engine.solve("4", "33", "", 0, '2'), '2');
  setFlag(F_TYPE_D, 0);
  EXPECT_EQ(engine.solve("4", "33", "", 0, '2'), '1');
  // And back: nothing the engine learnt of a hand under other rules holds.
  setFlag(F_TYPE_D, 1);
  EXPECT_EQ(engine.solve("4", "33", "", 0, '2'), '2');
  engine.reset();
  setFlag(F_TYPE_D, 0);
  EXPECT_EQ(engine.solve("4", "33", "", 0, '2'), '1');
}

// Engines given rules of their own solve under them on several threads at
// once, whatever the process-wide switches say meanwhile.
TEST_F(FastEngineTest, OwnRulesOnSeveralThreads) {
  const fast::Rules own[] = {static_cast<fast::Rules>(fast::R_ALL & ~fast::R_D),
                             static_cast<fast::Rules>(fast::R_ALL & ~(fast::R_3 | fast::R_SZ)),
                             static_cast<fast::Rules>(fast::R_D)};
  std::atomic<bool> done{false};
  std::thread flipper([&] {
    for (unsigned i = 0; !done.load(); ++i)
      fast::applyRules(static_cast<fast::Rules>(i & fast::R_ALL));
  });
  std::vector<std::thread> workers;
  std::vector<std::string> failures(std::size(own));
  for (std::size_t w = 0; w < std::size(own); ++w)
    workers.emplace_back([&, w] {
      std::mt19937 rng(static_cast<unsigned>(w) + 11);
      FastEngine engine(std::size_t(1) << 20);
      engine.setProgress(false);
      engine.setRules(own[w]);
      for (int round = 0; round < 150 && failures[w].empty(); ++round) {
        std::string u1, u2;
        dealPair(rng, 1 + static_cast<int>(rng() % 6), 1 + static_cast<int>(rng() % 6), false, u1,
                 u2);
        if (engine.solve(u1.c_str(), u2.c_str(), "", 0, '2') !=
            ref::solve(u1, u2, "", 0, '2', own[w]))
          failures[w] = u1 + " / " + u2;
      }
    });
  for (std::thread& t : workers) t.join();
  done.store(true);
  flipper.join();
  for (std::size_t w = 0; w < std::size(own); ++w) EXPECT_EQ(failures[w], "") << "rules " << own[w];

  // Without rules of its own the engine reads the switches again.
  resetRuleSwitches();
  FastEngine engine(std::size_t(1) << 20);
  engine.setProgress(false);
  engine.setRules(own[0]);
  EXPECT_EQ(engine.solve("4", "33", "", 0, '2'), '1');
  engine.setRules(std::nullopt);
  EXPECT_EQ(engine.solve("4", "33", "", 0, '2'), '2');
}

// Two threads over one table find the same verdicts and first winning
// plays as one; a small table makes it grow and replace entries while both
// threads work.
TEST_F(FastEngineTest, TwoThreadsGiveTheSameAnswersAsOne) {
  std::mt19937 rng(23);
  FastEngine one(std::size_t(4) << 20), two(std::size_t(4) << 20);
  one.setProgress(false);
  two.setProgress(false);
  two.setThreads(2);
  FastEngine::Tuning at_once;
  at_once.aloneBudget = 0;  // these searches are too short to wait for the helper
  two.setTuning(at_once);
  ASSERT_EQ(two.threads(), 2);
  int together = 0;
  for (int round = 0; round < 24; ++round) {
    const fast::Rules rules = round % 3 ? static_cast<fast::Rules>(fast::R_ALL)
                                        : static_cast<fast::Rules>(rng() & fast::R_ALL);
    fast::applyRules(rules);
    std::string u1, u2;
    dealPair(rng, 11 + static_cast<int>(rng() % 3), 11 + static_cast<int>(rng() % 3), false, u1,
             u2);
    const char turn = round % 2 ? '1' : '2';
    one.reset();
    two.reset();
    const char expected = one.solve(u1.c_str(), u2.c_str(), "", 0, turn);
    ASSERT_EQ(two.solve(u1.c_str(), u2.c_str(), "", 0, turn), expected) << u1 << " / " << u2;
    if (two.positionsSearched() > 5000) ++together;  // past the first quick try
    const FastEngine::Answer a = one.bestMove(u1.c_str(), u2.c_str(), "", 0, turn);
    const FastEngine::Answer b = two.bestMove(u1.c_str(), u2.c_str(), "", 0, turn);
    ASSERT_EQ(b.found, a.found) << u1 << " / " << u2;
    ASSERT_EQ(b.cards, a.cards) << u1 << " / " << u2;
    ASSERT_EQ(b.type, a.type);
  }
  EXPECT_GE(together, 10) << "most searches ended in the first quick try";
  // The largest published endgame, on two threads.
  resetRuleSwitches();
  two.reset();
  const std::string p1 = sortedAsc("X22AA0886633"), p2 = sortedAsc("YAQQJJ0999844");
  EXPECT_EQ(two.solve(p1.c_str(), p2.c_str(), "", 0, '2'), '2');
}

// A table past the caches takes the plays' estimates before their probes.
TEST_F(FastEngineTest, ABigTableAnswersAsASmallOne) {
  FastEngine big(std::size_t(64) << 20), small(std::size_t(4) << 20);
  const std::string p1 = sortedAsc("4456779900QQKAAA2"), p2 = sortedAsc("333456688900JQKK2");
  for (const char turn : {'1', '2'}) {
    const FastEngine::Answer a = big.bestMove(p1.c_str(), p2.c_str(), "", 0, turn),
                             b = small.bestMove(p1.c_str(), p2.c_str(), "", 0, turn);
    EXPECT_EQ(std::pair(a.result, a.cards), std::pair(b.result, b.cards)) << turn;
  }
  EXPECT_GE(big.tableBytes(), std::size_t(8) << 20) << "the table never grew past the caches";
}

// A search shorter than the alone budget never starts the helper: on two
// threads it searches exactly the positions one thread does.
TEST_F(FastEngineTest, AShortSearchStaysOnOneThread) {
  resetRuleSwitches();
  FastEngine one(std::size_t(16) << 20), two(std::size_t(16) << 20);
  one.setProgress(false);
  two.setProgress(false);
  two.setThreads(2);
  const std::string p1 = sortedAsc("X22AA0886633"), p2 = sortedAsc("YAQQJJ0999844");
  EXPECT_EQ(one.bestMove(p1.c_str(), p2.c_str(), "", 0, '2').cards, "8");
  EXPECT_EQ(two.bestMove(p1.c_str(), p2.c_str(), "", 0, '2').cards, "8");
  EXPECT_EQ(two.positionsSearched(), one.positionsSearched());
}

// A stop ends both threads of a long search, and the engine goes on.
TEST_F(FastEngineTest, AStopEndsBothThreads) {
  FastEngine engine(std::size_t(64) << 20);
  engine.setProgress(false);
  engine.setThreads(2);
  // A deal that takes the engine half a minute or more.
  const std::string p1 = sortedAsc("3555566799000JQKAA2X"), p2 = sortedAsc("3344677890JJJQQKA22Y");
  char result = 0;
  std::thread solver([&] { result = engine.solve(p1.c_str(), p2.c_str(), "", 0, '2'); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  setStop(1);
  solver.join();
  EXPECT_EQ(result, RESULT_STOPPED);
  setStop(0);
  EXPECT_EQ(engine.solve("4", "33", "", 0, '2'), '2');
}

TEST_F(FastEngineTest, RefusesATableItCannotHave) {
  EXPECT_THROW(FastEngine(std::size_t(1) << 62), CMemoryException);
}

}  // namespace
}  // namespace zelk
