// The replay with the fast engine plays the same game as with the
// exhaustive solver's tree: the same scripted user lines give the same
// console text, apart from the statistics line.
#include "solver/fastreplay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <sstream>
#include <string>

#include "base/output.h"
#include "platform/console.h"
#include "platform/text.h"
#include "rules/switches.h"
#include "run/solverun.h"
#include "solver/gamenode.h"

namespace zelk {
namespace {

// Answers reads from a script and records what is written; the end of the
// script is the end of input.
class ScriptConsole : public Console {
 public:
  explicit ScriptConsole(const std::string& script) : in_(utf8ToUtf16(script)) {}
  bool writeChar(char16_t c) override {
    std::lock_guard<std::mutex> g(m_);
    out_.push_back(c);
    return true;
  }
  bool readChar(char16_t& c) override {
    std::lock_guard<std::mutex> g(m_);
    if (pos_ >= in_.size()) return false;
    c = in_[pos_++];
    return true;
  }
  void setTitle(const std::u16string&) override {}
  bool detach() override { return true; }
  int error() const override { return 9; }
  std::string text() {
    std::lock_guard<std::mutex> g(m_);
    return utf16ToUtf8(out_);
  }

 private:
  std::mutex m_;
  std::u16string in_;
  std::size_t pos_ = 0;
  std::u16string out_;
};

// Without the statistics line and the progress lines, which a slow machine
// prints once a search takes more than a second.
std::string withoutStatistics(const std::string& text) {
  std::istringstream in(text);
  std::string line, out;
  while (std::getline(in, line))
    if (line.find("推演牌局总数") == std::string::npos && line.rfind("sec ", 0) != 0)
      out += line + "\n";
  return out;
}

struct Game {
  const char* name;
  const char16_t* player1;
  const char16_t* player2;
  const char* script;  // the user's lines, including a wrong play and a replay
  const char* winnerLine;
  char mover = '2';  // a position from mid-game: who moves, and what he must beat
  const char* toBeat = "";
  int toBeatType = TYPE_PASS;
};

std::string replay(EngineKind engine, const Game& g, int threads = 1) {
  const char16_t* player1 = g.player1;
  const char16_t* player2 = g.player2;
  const std::string script = g.script;
  auto console = std::make_shared<ScriptConsole>(script);
  setConsole(console);
  SolveRequest request;
  request.engine.kind = engine;
  request.engine.rules = fast::currentRules();
  request.engine.threads = threads;
  request.player1 = player1;
  request.player2 = player2;
  request.mover = g.mover;
  request.toBeat = g.toBeat;
  request.toBeatType = g.toBeatType;
  GameNode* root = newNode();
  zelkmain(root, request);
  deleteNode(root);
  if (tableRoot) {
    deleteNode(tableRoot);
    tableRoot = nullptr;
  }
  setConsole(nullptr);
  setStop(0);
  while (mStrSeq.take()) {
  }
  return console->text();
}

class FastReplay : public ::testing::TestWithParam<Game> {
 protected:
  void TearDown() override { resetRuleSwitches(); }
};

TEST_P(FastReplay, SameConsoleTextWithEitherEngine) {
  const Game& g = GetParam();
  std::string exhaustive = replay(EngineKind::Exhaustive, g);
  std::string fast = replay(EngineKind::Fast, g);
  EXPECT_NE(exhaustive.find(g.winnerLine), std::string::npos) << exhaustive;
  EXPECT_NE(fast.find("置换表局面数"), std::string::npos) << fast;
  EXPECT_EQ(withoutStatistics(fast), withoutStatistics(exhaustive));
  // The machine did play: its moves are in the text.
  EXPECT_NE(exhaustive.find("出牌:"), std::string::npos);
}

// With two threads the machine makes the same plays: here its first, on
// endgames whose searches outlast the engine's first quick try.
TEST(FastReplayThreads, SamePlaysOnTwoThreads) {
  struct Endgame {
    const char16_t* player1;
    const char16_t* player2;
  } endgames[] = {{u"XKJ08854", u"2AK096554"}, {u"X22AA0886633", u"YAQQJJ0999844"}};
  for (const Endgame& e : endgames) {
    const Game g{"", e.player1, e.player2, "", ""};
    const std::string one = replay(EngineKind::Fast, g, 1);
    const std::string two = replay(EngineKind::Fast, g, 2);
    EXPECT_NE(one.find("player2出牌:"), std::string::npos) << one;
    EXPECT_EQ(withoutStatistics(two), withoutStatistics(one));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Games, FastReplay,
    ::testing::Values(Game{"MachinePlaysPlayer1", u"9AA", u"2QQJJ77553",
                           "3\nzz\n55\nQQ\n2\n\n\nJJ\n77\n", "最终获胜方是 player1"},
                      Game{"MachineLeadsAsPlayer2", u"225543", u"KK5543",
                           "5\n2\n\n3\n22\n\n4\n5\n\n22\n44\n\n", "最终获胜方是 player2"},
                      // Mid-game: either side to move, with and without a play to beat.
                      Game{"Player1LeadsAndLoses", u"2QQJJ77553", u"9AA",
                           "3\nzz\n55\nQQ\n2\n\n\nJJ\n77\n", "最终获胜方是 player2", '1'},
                      Game{"MachineAnswersAPlayOnTheTable", u"225543", u"KK5543",
                           "5\n2\n\n3\n22\n\n4\n", "最终获胜方是 player2", '2', "3", TYPE_G},
                      Game{"Player1MustBeatAPair", u"225543", u"KK553", "5\n\n3\n\n",
                           "最终获胜方是 player1", '1', "44", TYPE_D},
                      Game{"UserAnswersAPlayOnTheTable", u"9AA", u"2QQJJ77553", "7\n\nQ\n55\n\n2\n",
                           "最终获胜方是 player1", '2', "8", TYPE_G}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FastReplayTree, LostPositionKeepsEveryPlayWonPositionOne) {
  resetRuleSwitches();
  FastEngine engine(std::size_t(1) << 20);
  engine.setProgress(false);
  GameNode* lost = newNode();
  std::strcpy(lost->u1Cards, "2");
  std::strcpy(lost->u2Cards, "34");
  lost->turn = '2';
  EXPECT_EQ(growLikeSolver(engine, lost), '1');
  int children = 0;
  for (GameNode* c = lost->child; c; c = c->next) {
    ++children;
    EXPECT_EQ(c->result, '1');
  }
  EXPECT_EQ(children, 2);
  // Newest first, as the solver links them: the single 4 was generated last.
  EXPECT_STREQ(lost->child->lastPlay, "4");
  deleteNode(lost);

  GameNode* won = newNode();
  std::strcpy(won->u1Cards, "5");
  std::strcpy(won->u2Cards, "3XY");
  won->turn = '2';
  EXPECT_EQ(growLikeSolver(engine, won), '2');
  ASSERT_NE(won->child, nullptr);
  EXPECT_EQ(won->child->next, nullptr);
  EXPECT_STREQ(won->child->lastPlay, "XY");  // the rocket comes before the singles
  EXPECT_EQ(won->child->playType, TYPE_WZ);
  EXPECT_STREQ(won->child->u2Cards, "3");
  EXPECT_EQ(won->child->turn, '1');
  deleteNode(won);
}

}  // namespace
}  // namespace zelk
