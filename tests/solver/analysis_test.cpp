// Moves to win against a plain minimax written from their definition, over
// the independent statement of the rules in reference/: every play of the
// analysis, the position's outcome, the machine's reply and the engine's
// first winning play, on random positions under every switch setting.
#include "solver/analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/flags.h"
#include "platform/text.h"
#include "reference/bruteforce.h"
#include "reference/random_deal.h"
#include "rules/switches.h"
#include "solver/ticker.h"
#include "support/hubcapture.h"

namespace zelk {
namespace {

namespace ref = reference;

// Who wins ('1', '2') and the winner's card plays still to come, when the
// winner makes them as few and the loser as many as he can.
struct Value {
  char winner;
  int moves;
};

// The mover prefers a win to a loss, a short win, and a long loss.
bool better(const Value& a, const Value& b, char mover) {
  if ((a.winner == mover) != (b.winner == mover)) return a.winner == mover;
  return a.winner == mover ? a.moves < b.moves : a.moves > b.moves;
}

class MovesToWin {
 public:
  explicit MovesToWin(const ref::Rules& rules) : rules_(rules) {}

  // The value of one play of the mover, as the definition gives it.
  Value afterPlay(const ref::Hand& u1, const ref::Hand& u2, const ref::Play& p, char turn) {
    const ref::Hand& hand = turn == '2' ? u2 : u1;
    const char other = turn == '2' ? '1' : '2';
    ref::Hand left = ref::minus(hand, p.cards);
    if (p.code != ref::PASS && ref::sizeOf(left) == 0) return Value{turn, 1};
    Value v =
        turn == '2' ? of(u1, left, ref::lastOf(p), other) : of(left, u2, ref::lastOf(p), other);
    if (v.winner == turn && p.code != ref::PASS) ++v.moves;
    return v;
  }

  Value of(const ref::Hand& u1, const ref::Hand& u2, const ref::Last& last, char turn) {
    uint64_t a = static_cast<uint64_t>(last.code) << 11 | (last.rank + 1) << 6 | last.size << 1 |
                 (turn == '2'),
             b = 0;
    for (int r = 0; r < ref::RANKS; ++r) {
      a = a << 3 | static_cast<uint64_t>(u1[r]);
      b = b << 3 | static_cast<uint64_t>(u2[r]);
    }
    const auto key = std::make_pair(a, b);
    if (auto it = memo_.find(key); it != memo_.end()) return it->second;
    bool any = false;
    Value best{};
    for (const ref::Play& p : ref::legalPlays(turn == '2' ? u2 : u1, last, rules_)) {
      const Value v = afterPlay(u1, u2, p, turn);
      if (!any || better(v, best, turn)) best = v;
      any = true;
    }
    return memo_[key] = best;
  }

 private:
  ref::Rules rules_;
  std::map<std::pair<uint64_t, uint64_t>, Value> memo_;
};

std::string sortedCards(std::string s) {
  std::sort(s.begin(), s.end(),
            [](char a, char b) { return ref::rankOfCard(a) < ref::rankOfCard(b); });
  return s;
}

// Each switch alone off, each alone on, all off, then random settings.
unsigned switchesOfRound(int round, std::mt19937& rng) {
  if (round < 13) return ref::ALL_SWITCHES & ~(1u << round);
  if (round < 26) return 1u << (round - 13);
  if (round == 26) return 0;
  return ref::randomSwitches(rng);
}

TEST(Analysis, MovesToWinAgreeWithMinimaxFromTheDefinition) {
  std::mt19937 rng(16);
  FastEngine engine(std::size_t(1) << 22);
  engine.setProgress(false);
  Analysis analysis(engine, std::size_t(1) << 22);
  analysis.setProgress(false);
  int midGame = 0, wonByMover = 0;
  for (int round = 0; round < 500; ++round) {
    const unsigned mask = switchesOfRound(round, rng);
    fast::applyRules(static_cast<fast::Rules>(mask));
    const ref::Rules rules = ref::rulesOf(mask);
    auto [h1, h2] = ref::randomDeal(rng, 8);
    if (round % 10 == 5) h2 = ref::randomHand(rng, 1, 8);  // from a second pack
    Position p;
    p.u1Cards = h1;
    p.u2Cards = h2;
    p.turn = rng() % 2 ? RESULT_U1 : RESULT_U2;
    const std::string& mine = p.turn == RESULT_U2 ? h2 : h1;
    const ref::Play toBeat = ref::randomPlayToBeat(rng, rules, ref::randomWindow(rng), mine);
    p.lastPlay = toBeat.text();
    p.playType = toBeat.code;
    midGame += toBeat.code != ref::PASS || p.turn == RESULT_U1;
    const std::string where = h1 + " / " + h2 + " to beat " + p.lastPlay + " mover " + p.turn +
                              " switches " + std::to_string(mask);

    MovesToWin minimax(rules);
    const ref::Hand u1 = ref::handOf(h1), u2 = ref::handOf(h2);
    const Value expected = minimax.of(u1, u2, ref::lastOf(toBeat), p.turn);
    std::vector<Analysis::JudgedPlay> plays;
    const Analysis::Outcome o = analysis.analyse(p, plays);
    ASSERT_EQ(o.winner, expected.winner) << where;
    ASSERT_EQ(o.movesToWin, expected.moves) << where;
    const Analysis::Outcome judged = analysis.judge(p);
    ASSERT_EQ(judged.winner, expected.winner) << where;
    ASSERT_EQ(judged.movesToWin, expected.moves) << where;

    // Every play, matched by its cards (one play per set of cards).
    std::map<std::string, Value> byCards;
    for (const ref::Play& q :
         ref::legalPlays(p.turn == RESULT_U2 ? u2 : u1, ref::lastOf(toBeat), rules))
      byCards[ref::ascending(q.cards) + "/" + std::to_string(q.code)] =
          minimax.afterPlay(u1, u2, q, p.turn);
    ASSERT_EQ(plays.size(), byCards.size()) << where;
    const Analysis::JudgedPlay* chosen = nullptr;
    const Analysis::JudgedPlay* firstWin = nullptr;
    for (const Analysis::JudgedPlay& j : plays) {
      auto it = byCards.find(sortedCards(j.cards) + "/" + std::to_string(j.type));
      ASSERT_NE(it, byCards.end()) << where << " play " << j.cards;
      ASSERT_EQ(j.after.winner, it->second.winner) << where << " play " << j.cards;
      ASSERT_EQ(j.after.movesToWin, it->second.moves) << where << " play " << j.cards;
      if (!chosen || better(Value{j.after.winner, j.after.movesToWin},
                            Value{chosen->after.winner, chosen->after.movesToWin}, p.turn))
        chosen = &j;
      if (!firstWin && j.after.winner == p.turn) firstWin = &j;
    }
    // The winning plays alone: the same, less the others.
    std::vector<Analysis::JudgedPlay> winning;
    const Analysis::Outcome w = analysis.analyse(p, winning, true);
    ASSERT_EQ(w.winner, expected.winner) << where;
    ASSERT_EQ(w.movesToWin, expected.moves) << where;
    auto next = winning.begin();
    for (const Analysis::JudgedPlay& j : plays) {
      if (j.after.winner != p.turn) continue;
      ASSERT_NE(next, winning.end()) << where;
      EXPECT_EQ(next->cards, j.cards) << where;
      EXPECT_EQ(next->after.movesToWin, j.after.movesToWin) << where;
      ++next;
    }
    EXPECT_EQ(next, winning.end()) << where;
    // The machine's reply: the best play, the first of equals in canonical order.
    const Analysis::JudgedPlay reply = analysis.reply(p);
    ASSERT_EQ(reply.cards, chosen->cards) << where;
    ASSERT_EQ(reply.type, chosen->type) << where;
    ASSERT_EQ(reply.after.movesToWin, expected.moves) << where;
    // The first winning play is the engine's.
    const FastEngine::Answer a = engine.bestMove(p.u1Cards.c_str(), p.u2Cards.c_str(),
                                                 p.lastPlay.c_str(), p.playType, p.turn);
    ASSERT_EQ(a.found, firstWin != nullptr) << where;
    if (firstWin) {
      ++wonByMover;
      EXPECT_EQ(a.cards, firstWin->cards) << where;
    }
  }
  resetRuleSwitches();
  // Both outcomes and mid-game positions come up often enough to mean something.
  EXPECT_GT(midGame, 250);
  EXPECT_GT(wonByMover, 100);
  EXPECT_LT(wonByMover, 400);
}

struct PositionRow {
  const char* what;
  const char* u1;
  const char* u2;
  char mover;
  const char* toBeat;
  const char* type;
  fast::Rules rules;
  const char* error;  // empty: a position, player1 to beat 33 as a pair
};

class MakePosition : public ::testing::TestWithParam<PositionRow> {};

TEST_P(MakePosition, RefusesWhatIsNoPosition) {
  const PositionRow& row = GetParam();
  Position p;
  std::string error;
  const bool ok =
      makePosition(row.u1, row.u2, row.mover, row.toBeat, row.type, row.rules, p, error);
  EXPECT_EQ(error, row.error);
  ASSERT_EQ(ok, row.error[0] == '\0');
  if (ok) {
    EXPECT_EQ(p.u1Cards, "3XY");
    EXPECT_EQ(p.turn, RESULT_U1);
    EXPECT_EQ(p.lastPlay, "33");
    EXPECT_EQ(p.playType, TYPE_D);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MakePosition,
    ::testing::Values(
        PositionRow{"position", "YX3", "4", '1', "33", "", fast::R_ALL, ""},
        PositionRow{"two_packs_in_a_hand", "33333", "4", '1', "", "", fast::R_ALL,
                    "player1's cards 33333 are not a hand of one pack"},
        PositionRow{"empty_hand", "3", "", '1', "", "", fast::R_ALL,
                    "player2 must hold 1 to 22 cards"},
        PositionRow{"no_mover", "3", "4", '3', "", "", fast::R_ALL,
                    "the mover is player1 or player2"},
        PositionRow{"type_without_cards", "3", "4", '1', "", "D", fast::R_ALL,
                    "a play type needs the cards of the play to beat"},
        PositionRow{"switched_off", "3", "4", '2', "XY", "", fast::R_ALL & ~fast::R_WZ,
                    "XY is WZ (王炸), which the rule switches turn off: the opponent could not "
                    "have played it"}),
    [](const ::testing::TestParamInfo<PositionRow>& info) { return std::string(info.param.what); });

// Ctrl-C in the middle of a long analysis, after a progress line.
TEST(Analysis, WritesProgressAndStopsWhenAsked) {
  zelk::testing::HubCapture hub;
  FastEngine engine(std::size_t(1) << 24);
  Analysis analysis(engine, std::size_t(1) << 24);
  releaseThreadsStarted = 1;  // the seconds are tickSeconds
  tickSeconds = 0;
  std::thread clock([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    tickSeconds = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    setStop(1);
  });
  std::vector<Analysis::JudgedPlay> plays;
  const Analysis::Outcome o =
      analysis.analyse(Position{"34677888990QKKA22", "345667790JJJJQKA2", "", 0, '2'}, plays);
  clock.join();
  releaseThreadsStarted = 0;
  tickSeconds = 0;
  EXPECT_EQ(o.winner, RESULT_STOPPED);
  EXPECT_LT(plays.size(), 92u);
  const std::string out = utf16ToUtf8(hub.console().output());
  EXPECT_TRUE(std::regex_search(
      out, std::regex("sec 1  推演 [0-9]+  置换表 [0-9]+  speed [0-9]+/s [0-9]+/92 \r\n")))
      << out;
}

TEST(Analysis, AStopEndsTheWorkWithTheStopResult) {
  FastEngine engine(std::size_t(1) << 22);
  engine.setProgress(false);
  Analysis analysis(engine, std::size_t(1) << 22);
  Position p;
  p.u1Cards = "4";
  p.u2Cards = "33";
  setStop(1);
  std::vector<Analysis::JudgedPlay> plays;
  EXPECT_EQ(analysis.analyse(p, plays).winner, RESULT_STOPPED);
  EXPECT_EQ(analysis.judge(p).winner, RESULT_STOPPED);
  EXPECT_EQ(analysis.reply(p).after.winner, RESULT_STOPPED);
  setStop(0);
  const Analysis::Outcome o = analysis.judge(p);
  EXPECT_EQ(o.winner, RESULT_U2);
  EXPECT_EQ(o.movesToWin, 1);
}

// Through the engine interface: the fast engine's analysis plays by the
// engine's rules (without pairs, player1's 4 beats the 3 player2 must lead).
TEST(Analysis, TheFastEngineAnalysesUnderItsRules) {
  EXPECT_EQ(makeEngine(EngineSettings{})->analysis(), nullptr);
  EngineSettings settings{EngineKind::Fast, fast::R_ALL & ~fast::R_D, std::size_t(1) << 22, 1,
                          false};
  const std::unique_ptr<Engine> engine = makeEngine(settings);
  ASSERT_NE(engine->analysis(), nullptr);
  const Analysis::Outcome o =
      engine->analysis()->judge(Position{"4", "33", "", TYPE_PASS, RESULT_U2});
  EXPECT_EQ(o.winner, RESULT_U1);
  EXPECT_EQ(o.movesToWin, 1);
}

}  // namespace
}  // namespace zelk
