// The exhaustive solver against the brute-force reference and the generator:
// on thousands of random small endgames with random switch sets,
//  - the solver's verdict is the reference's minimax value;
//  - every node of the solved tree is sound: a winning mover keeps exactly
//    one play, which the reference confirms as winning; a losing mover keeps
//    every legal play (the generator's list, same cards, types, strings and
//    hands), each a win for the opponent.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "reference/bruteforce.h"
#include "reference/random_deal.h"
#include "solver/movegen_testutil.h"
#include "solver/solver.h"

namespace zelk {
namespace {

using Position = std::tuple<std::string, int, std::string, std::string>;  // play, type, u1, u2

std::vector<Position> positionsOf(const GameNode* node) {
  std::vector<Position> out;
  for (const GameNode* c = node->child; c; c = c->next)
    out.emplace_back(c->lastPlay, c->playType, c->u1Cards, c->u2Cards);
  std::sort(out.begin(), out.end());
  return out;
}

// The generator's plays for the same position (either side to move).
std::vector<Position> generatedPositions(const GameNode* node) {
  GameNode* copy = newNode();
  copyPosition(copy, node);
  testutil::expandEitherSide(copy);
  std::vector<Position> out = positionsOf(copy);
  deleteNode(copy);
  return out;
}

reference::Last lastOfNode(const GameNode* node) {
  reference::Last last;
  last.code = node->playType;
  if (last.code != reference::PASS) {
    last.rank = reference::rankOfCard(node->lastPlay[0]);
    last.size = static_cast<int>(std::string(node->lastPlay).size());
  }
  return last;
}

char referenceValue(reference::Game& game, const GameNode* node) {
  return game.winner(reference::handOf(node->u1Cards), reference::handOf(node->u2Cards),
                     lastOfNode(node), node->turn);
}

std::string describe(const GameNode* node) {
  return std::string("player1 ") + node->u1Cards + ", player2 " + node->u2Cards + ", on [" +
         node->lastPlay + "] type " + std::to_string(node->playType) + ", turn " + node->turn;
}

// Checks one solved node and everything below it; returns the nodes checked.
int checkTree(const GameNode* node, reference::Game& game) {
  const char value = node->result;
  EXPECT_EQ(value, referenceValue(game, node)) << describe(node);
  if (node->u1Cards[0] == '\0' || node->u2Cards[0] == '\0') {
    EXPECT_EQ(node->child, nullptr) << describe(node);
    return 1;
  }
  int checked = 1;
  if (value == node->turn) {
    // The strategy: one play, proven to win.
    EXPECT_TRUE(node->child != nullptr && node->child->next == nullptr) << describe(node);
    if (node->child) {
      const std::vector<Position> legal = generatedPositions(node);
      EXPECT_TRUE(std::binary_search(legal.begin(), legal.end(), positionsOf(node)[0]))
          << describe(node) << ": kept play " << node->child->lastPlay << " is not legal";
    }
  } else {
    // Every defence is kept.
    EXPECT_EQ(positionsOf(node), generatedPositions(node)) << describe(node);
  }
  for (const GameNode* c = node->child; c; c = c->next) checked += checkTree(c, game);
  return checked;
}

// What the solver printed, less its progress lines: a seconds ticker started
// by another test in this program may be running.
std::u16string withoutProgressLines(const std::u16string& text) {
  std::u16string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(u'\n', start);
    end = end == std::u16string::npos ? text.size() : end + 1;
    std::u16string line = text.substr(start, end - start);
    if (line.rfind(u"sec ", 0) != 0) out += line;
    start = end;
  }
  return out;
}

class SolverReference : public ::testing::Test {
 protected:
  void SetUp() override {
    tickSeconds = 0;
    lastReportCount = 0;
    lastReportSecond = 0;
    topNode = nullptr;
    tableRoot = nullptr;  // the progress line may look at it
    topMoveCount = 0;
  }
  void TearDown() override {
    topNode = nullptr;
    setFlag(F_DEBUG, 0);
  }
};

TEST_F(SolverReference, ValuesAndTreesOfRandomEndgames) {
  std::mt19937 rng(99);
  testutil::ConsoleCapture console;
  int wins[2] = {0, 0};
  int64_t checked = 0;
  for (int round = 0; round < 3000; ++round) {
    const unsigned mask = reference::randomSwitches(rng);
    const reference::Rules rules = reference::rulesOf(mask);
    auto [u1, u2] = reference::randomDeal(rng, round % 3 == 0 ? 7 : 5);
    // Mostly the start of a game; sometimes player1 to move, or a play to beat.
    const bool player1Moves = round % 5 == 1;
    reference::Play toBeat = round % 4 == 3
                                 ? reference::randomLead(rng, rules, reference::randomWindow(rng))
                                 : reference::Play{};
    testutil::SwitchGuard guard(mask);
    setFlag(F_DEBUG, round % 2);  // the consistency checks must stay silent
    GameNode* root =
        testutil::makeNode(u1, u2, toBeat.text(), toBeat.code, player1Moves ? '1' : '2');
    root->result = ZelkSolver(root, 0);
    topNode = nullptr;
    reference::Game game(rules);
    ASSERT_EQ(root->result, referenceValue(game, root))
        << "round " << round << ": " << describe(root) << ", switches " << mask;
    checked += checkTree(root, game);
    ++wins[root->result - '1'];
    deleteNode(root);
    if (::testing::Test::HasFailure()) FAIL() << "round " << round << ", switches " << mask;
  }
  // Both outcomes occur often enough for the comparison to mean something.
  EXPECT_GT(wins[0], 300);
  EXPECT_GT(wins[1], 300);
  EXPECT_GT(checked, 30000);
  EXPECT_EQ(withoutProgressLines(console.text()), u"");
}

// Large hands, where the duplicate drops of the airplanes with wings and of
// four with two matter: the opponent holds only the rocket, so every play
// that does not empty the mover's hand loses at once, and the losing mover's
// node keeps every legal play, which must be exactly the generator's list.
TEST_F(SolverReference, PlaysOfALosingMoverMatchTheGenerator) {
  std::mt19937 rng(5);
  testutil::ConsoleCapture console;
  int compared = 0;
  for (int round = 0; round < 3000; ++round) {
    const unsigned mask = reference::randomSwitches(rng) | (1u << 7);  // the rocket on
    const reference::Rules rules = reference::rulesOf(mask);
    const reference::Window window = reference::randomWindow(rng);
    std::string hand = reference::randomHand(rng, 2, 20, window);
    hand.erase(
        std::remove_if(hand.begin(), hand.end(), [](char c) { return c == 'X' || c == 'Y'; }),
        hand.end());
    if (hand.empty()) continue;
    reference::Play toBeat =
        round % 2 ? reference::randomPlayToBeat(rng, rules, window, hand) : reference::Play{};
    const bool player1Moves = round % 3 == 0;
    testutil::SwitchGuard guard(mask);
    setFlag(F_DEBUG, round % 2);
    GameNode* root = player1Moves ? testutil::makeNode(hand, "XY", toBeat.text(), toBeat.code, '1')
                                  : testutil::makeNode("XY", hand, toBeat.text(), toBeat.code, '2');
    root->result = ZelkSolver(root, 0);
    topNode = nullptr;
    if (root->result != root->turn) {
      ++compared;
      ASSERT_EQ(positionsOf(root), generatedPositions(root))
          << "round " << round << ": " << describe(root) << ", switches " << mask;
    } else {
      // Only a play that empties the hand can win here.
      ASSERT_NE(root->child, nullptr);
      EXPECT_EQ(std::string(player1Moves ? root->child->u1Cards : root->child->u2Cards), "")
          << "round " << round << ": " << describe(root);
    }
    deleteNode(root);
  }
  EXPECT_GT(compared, 2500);
  EXPECT_EQ(withoutProgressLines(console.text()), u"");
}

// The same comparison on the positions where several picks or several runs
// give the same cards, which random hands seldom reach.
struct LosingCase {
  const char* name;
  const char* hand;
  const char* last;
  int type;
  unsigned switches;
};

void PrintTo(const LosingCase& c, std::ostream* os) { *os << c.name; }

class SolverKeepsEveryPlay : public SolverReference,
                             public ::testing::WithParamInterface<LosingCase> {};

TEST_P(SolverKeepsEveryPlay, SameAsGenerator) {
  const LosingCase& c = GetParam();
  testutil::ConsoleCapture console;
  testutil::SwitchGuard guard(c.switches);
  for (char turn : {'2', '1'}) {
    SCOPED_TRACE(turn);
    GameNode* root = turn == '2' ? testutil::makeNode("XY", c.hand, c.last, c.type, '2')
                                 : testutil::makeNode(c.hand, "XY", c.last, c.type, '1');
    root->result = ZelkSolver(root, 0);
    topNode = nullptr;
    EXPECT_NE(root->result, turn) << describe(root);
    std::vector<Position> expected = generatedPositions(root);
    EXPECT_GT(expected.size(), 1u);
    EXPECT_EQ(positionsOf(root), expected);
    deleteNode(root);
  }
  EXPECT_EQ(withoutProgressLines(console.text()), u"");
}

constexpr unsigned ALL = testutil::ALL_SWITCHES;
constexpr unsigned NO_AIRPLANE = ALL & ~(1u << 10);

const LosingCase LOSING_CASES[] = {
    {"FourTriplesLead", "3334445556668", "", TYPE_PASS, ALL},
    {"FourTriplesLeadWithoutAirplane", "3334445556668", "", TYPE_PASS, NO_AIRPLANE},
    {"FourTriplesOnLowerWings", "3334445556668", "333444555666", TYPE_F11, ALL},
    {"FiveTriplesOnEqualRun", "33344455566677788", "444555666333", TYPE_F11, ALL},
    {"FiveTriplesOnLowerWings", "33344455566677788", "333444555777", TYPE_F11, ALL},
    {"FiveTriplesLead", "33344455566677788", "", TYPE_PASS, ALL},
    {"FourTriplesOfFoursLead", "333344445555666678", "", TYPE_PASS, NO_AIRPLANE},
    {"FourWithRepeatedSingles", "333355667", "", TYPE_PASS, ALL},
    {"FourWithTwoOnFourWithTwo", "44445566", "333356", TYPE_411, ALL},
    {"TwoTriplesWithRepeatedWings", "33344455566", "", TYPE_PASS, ALL},
    {"TwoTriplesOnTwoTriples", "33344455566", "33344478", TYPE_F11, ALL},
    {"PairWingsThreeTriples", "3334445556677889", "", TYPE_PASS, ALL},
    {"PairWingsOnPairWings", "44455566677889900", "333444555667788", TYPE_F22, ALL},
};

INSTANTIATE_TEST_SUITE_P(SolverReference, SolverKeepsEveryPlay, ::testing::ValuesIn(LOSING_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zelk
