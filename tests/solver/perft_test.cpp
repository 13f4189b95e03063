// Play-tree counts ("perft"): the number of positions at depth 1, 2, 3, ...
// below a starting position, following every legal play and pass of
// whichever side is to move. Player1's plays come from the generator on the
// mirrored position. The counts pin the whole enumeration (kinds, gates,
// comparison, duplicate drops) on fixed deals; they were cross-checked
// against an independent implementation of the rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "solver/movegen_testutil.h"

namespace zelk {
namespace {

using testutil::ALL_SWITCHES;

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

std::vector<int64_t> perftCounts(const std::string& u1, const std::string& u2, unsigned switches,
                                 std::size_t depth) {
  testutil::SwitchGuard guard(switches);
  std::vector<int64_t> counts(depth, 0);
  GameNode* root = testutil::makeNode(u1, u2, "", TYPE_PASS, '2');
  perft(root, 0, counts);
  deleteNode(root);
  return counts;
}

// Bits of testutil::SWITCH_FLAGS.
constexpr unsigned S_SZ = 1u << 4, S_ZD = 1u << 6, S_WZ = 1u << 7, S_411 = 1u << 8, S_F = 1u << 10,
                   S_F11 = 1u << 11, S_F22 = 1u << 12;

struct PerftCase {
  const char* name;
  const char* player1;
  const char* player2;  // leads
  unsigned switches;
  std::vector<int64_t> counts;  // depth 1, 2, ...
};

void PrintTo(const PerftCase& c, std::ostream* os) { *os << c.name; }

class Perft : public ::testing::TestWithParam<PerftCase> {};

TEST_P(Perft, CountsPerDepth) {
  const PerftCase& c = GetParam();
  testutil::ConsoleCapture console;
  EXPECT_EQ(perftCounts(c.player1, c.player2, c.switches, c.counts.size()), c.counts);
  EXPECT_EQ(console.text(), u"");
}

const PerftCase PERFT_CASES[] = {
    {"SmallEndgame", "AA9", "2QQJJ77553", ALL_SWITCHES, {10, 22, 112, 230, 1000}},
    {"AirplanesAndRocket",
     "99990JJQQKKAA22",
     "3334445556667788XY",
     ALL_SWITCHES,
     {207, 779, 8224, 50309}},
    {"PairRunsAgainstBombAndRocket",
     "KKKKAAA22XY",
     "3344556677889900JJQQ",
     ALL_SWITCHES,
     {77, 308, 2475, 15492}},
    {"TwoBombsAgainstAirplanes",
     "3333444456",
     "555666777889900JJ",
     ALL_SWITCHES,
     {147, 442, 4211, 14471}},
    {"TwoBombsNoAirplanesNoBombs",
     "3333444456",
     "555666777889900JJ",
     ALL_SWITCHES & ~(S_F | S_F22 | S_ZD | S_WZ),
     {120, 121, 3397, 3489}},
    {"AirplanesNoWingsNoFourWithTwo",
     "99990JJQQKKAA22",
     "3334445556667788XY",
     ALL_SWITCHES & ~(S_F11 | S_411 | S_SZ),
     {103, 566, 4896, 32773}},
};

INSTANTIATE_TEST_SUITE_P(Movegen, Perft, ::testing::ValuesIn(PERFT_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zelk
