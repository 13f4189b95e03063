// The generator against the brute-force reference: the same set of plays
// (cards, type and play string) on thousands of random small positions, with
// random switch sets and random plays to beat.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "reference/bruteforce.h"
#include "reference/random_deal.h"
#include "solver/movegen_testutil.h"

namespace zelk {
namespace {

using PlayList = std::vector<std::pair<std::string, int>>;

PlayList generatorPlays(const std::string& u1, const std::string& u2, const std::string& last,
                        int type) {
  PlayList out;
  for (const testutil::Child& c : testutil::generate(u1, u2, last, type))
    out.emplace_back(c.play, c.type);
  std::sort(out.begin(), out.end());
  return out;
}

PlayList referencePlays(const std::string& u2, const reference::Last& last,
                        const reference::Rules& rules) {
  PlayList out;
  for (const reference::Play& p : reference::legalPlays(reference::handOf(u2), last, rules))
    out.emplace_back(p.text(), p.code);
  std::sort(out.begin(), out.end());
  return out;
}

std::string show(const PlayList& plays) {
  std::string out;
  for (const auto& [cards, type] : plays) out += " " + cards + ":" + std::to_string(type);
  return out;
}

TEST(MovegenReference, SamePlaysOnRandomPositions) {
  std::mt19937 rng(20240611);
  testutil::ConsoleCapture console;
  int replies = 0, leads = 0;
  for (int round = 0; round < 4000; ++round) {
    const unsigned mask = reference::randomSwitches(rng);
    const reference::Rules rules = reference::rulesOf(mask);
    testutil::SwitchGuard guard(mask);
    const reference::Window window = reference::randomWindow(rng);
    const std::string u2 = reference::randomHand(rng, 1, 18, window);
    const std::string u1 = reference::randomHand(rng, 1, 4);
    reference::Play toBeat = reference::randomPlayToBeat(rng, rules, window, u2);
    const std::string last = toBeat.text();
    (toBeat.code == reference::PASS ? leads : replies)++;

    PlayList expected = referencePlays(u2, reference::lastOf(toBeat), rules);
    PlayList actual = generatorPlays(u1, u2, last, toBeat.code);
    ASSERT_EQ(show(actual), show(expected))
        << "round " << round << ": player2 " << u2 << " on [" << last << "] type " << toBeat.code
        << ", switches " << mask;
  }
  EXPECT_GT(leads, 500);
  EXPECT_GT(replies, 2000);
  EXPECT_EQ(console.text(), u"");
}

// Whole play trees of small random deals, both sides moving: player1's
// plays come from the generator on the mirrored position.
void perft(GameNode* node, std::size_t level, std::vector<int64_t>& counts) {
  if (node->u1Cards[0] == '\0' || node->u2Cards[0] == '\0') return;
  testutil::expandEitherSide(node);
  for (GameNode* c = node->child; c; c = c->next) {
    ++counts[level];
    if (level + 1 < counts.size()) perft(c, level + 1, counts);
  }
  deleteNode(node->child);
  node->child = nullptr;
}

TEST(MovegenReference, SamePlayTreesOnRandomDeals) {
  std::mt19937 rng(7);
  for (int round = 0; round < 150; ++round) {
    const unsigned mask = reference::randomSwitches(rng);
    auto [u1, u2] = reference::randomDeal(rng, 6);
    testutil::SwitchGuard guard(mask);
    std::vector<int64_t> expected(8, 0), actual(8, 0);
    reference::countTree(reference::handOf(u1), reference::handOf(u2), {}, '2',
                         reference::rulesOf(mask), 0, expected);
    GameNode* root = testutil::makeNode(u1, u2, "", TYPE_PASS, '2');
    perft(root, 0, actual);
    deleteNode(root);
    ASSERT_EQ(actual, expected) << "round " << round << ": player1 " << u1 << ", player2 " << u2
                                << ", switches " << mask;
  }
}

// The reference itself reproduces the published play-tree counts, so
// agreeing with it means something.
struct PublishedCase {
  const char* name;
  const char* player1;
  const char* player2;
  unsigned switches;
  std::vector<int64_t> counts;
};

void PrintTo(const PublishedCase& c, std::ostream* os) { *os << c.name; }

class ReferenceCounts : public ::testing::TestWithParam<PublishedCase> {};

TEST_P(ReferenceCounts, MatchPublished) {
  const PublishedCase& c = GetParam();
  std::vector<int64_t> counts(c.counts.size(), 0);
  reference::countTree(reference::handOf(c.player1), reference::handOf(c.player2), {}, '2',
                       reference::rulesOf(c.switches), 0, counts);
  EXPECT_EQ(counts, c.counts);
}

constexpr unsigned ALL = testutil::ALL_SWITCHES;
constexpr unsigned S_SZ = 1u << 4, S_ZD = 1u << 6, S_WZ = 1u << 7, S_411 = 1u << 8, S_F = 1u << 10,
                   S_F11 = 1u << 11, S_F22 = 1u << 12;

const PublishedCase PUBLISHED[] = {
    {"SmallEndgame", "AA9", "2QQJJ77553", ALL, {10, 22, 112, 230, 1000}},
    {"AirplanesAndRocket", "99990JJQQKKAA22", "3334445556667788XY", ALL, {207, 779, 8224}},
    {"TwoBombsAgainstAirplanes", "3333444456", "555666777889900JJ", ALL, {147, 442, 4211}},
    {"TwoBombsNoAirplanesNoBombs",
     "3333444456",
     "555666777889900JJ",
     ALL & ~(S_F | S_F22 | S_ZD | S_WZ),
     {120, 121, 3397}},
    {"AirplanesNoWingsNoFourWithTwo",
     "99990JJQQKKAA22",
     "3334445556667788XY",
     ALL & ~(S_F11 | S_411 | S_SZ),
     {103, 566, 4896}},
};

INSTANTIATE_TEST_SUITE_P(MovegenReference, ReferenceCounts, ::testing::ValuesIn(PUBLISHED),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zelk
