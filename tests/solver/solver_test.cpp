// The solver's entry rules, stop, progress line, memory budget and tree shape.
#include "solver/solver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "base/output.h"
#include "capture.h"
#include "rules/switches.h"
#include "solver/gamenode.h"
#include "solver/nodepool.h"

namespace zelk {
namespace {

using testing::drainQueued;
using testing::RecordingConsole;

GameNode* position(const char* u1, const char* u2, char turn, const char* last = "", int type = 0) {
  GameNode* r = newNode();
  std::strcpy(r->u1Cards, u1);
  std::strcpy(r->u2Cards, u2);
  std::strcpy(r->lastPlay, last);
  r->playType = type;
  r->turn = turn;
  return r;
}

class Solver : public ::testing::Test {
 protected:
  void SetUp() override {
    nodeCount = 0;
    tickSeconds = 0;
    lastReportCount = 0;
    lastReportSecond = 0;
    topNode = nullptr;
    tableRoot = nullptr;
    topMoveCount = 0;
    setStop(0);
    console = std::make_shared<RecordingConsole>();
    setConsole(console);
    drainQueued();
  }
  void TearDown() override {
    setConsole(nullptr);
    resetRuleSwitches();
    setFlag(F_DEBUG, 0);
    setStop(0);
    tickSeconds = 0;
    nodepool::setBudgetBytes(0);
    drainQueued();
  }
  std::shared_ptr<RecordingConsole> console;
};

TEST_F(Solver, EmptyHandsDecideAtOnce) {
  GameNode* both = position("", "", '2');
  EXPECT_EQ(ZelkSolver(both, 0), '1');  // player1 is tested first
  EXPECT_EQ(both->child, nullptr);
  GameNode* u2Out = position("3", "", '1');
  EXPECT_EQ(ZelkSolver(u2Out, 0), '2');
  EXPECT_EQ(u2Out->child, nullptr);
  deleteNode(both);
  deleteNode(u2Out);
}

TEST_F(Solver, LastCardLedWinsWithOneChild) {
  GameNode* root = position("33", "5", '2');
  EXPECT_EQ(ZelkSolver(root, 0), '2');
  ASSERT_NE(root->child, nullptr);
  EXPECT_EQ(root->child->next, nullptr);
  EXPECT_EQ(root->child->result, '2');
  EXPECT_STREQ(root->child->lastPlay, "5");
  deleteNode(root);
}

TEST_F(Solver, InvalidTurnGivesThreeAndAMessage) {
  GameNode* root = position("3", "4", 'x');
  EXPECT_EQ(ZelkSolver(root, 0), '3');
  EXPECT_EQ(root->child, nullptr);
  EXPECT_EQ(console->text(), "ZelkSolver:异常..\r\n");
  deleteNode(root);
}

TEST_F(Solver, LosingMoverKeepsEveryPlayWinnerKeepsOne) {
  // player2 leads KKKK556 against the rocket: every lead loses, so all stay,
  // and of the two ways to pick KKKK56 only the first exists.
  GameNode* root = position("XY", "556KKKK", '2');
  EXPECT_EQ(ZelkSolver(root, 0), '1');
  int kkkk55 = 0, kkkk56 = 0, children = 0;
  for (GameNode* c = root->child; c; c = c->next) {
    ++children;
    EXPECT_EQ(c->result, '1');
    // The winner (player1) answers each play with exactly one play.
    if (c->u1Cards[0] != '\0') {
      ASSERT_NE(c->child, nullptr);
      EXPECT_EQ(c->child->next, nullptr);
    }
    kkkk55 += std::strcmp(c->lastPlay, "KKKK55") == 0;
    kkkk56 += std::strcmp(c->lastPlay, "KKKK56") == 0;
    EXPECT_NE(c->playType, TYPE_PASS);  // no pass on a lead
  }
  EXPECT_EQ(kkkk55, 1);
  EXPECT_EQ(kkkk56, 1);
  EXPECT_GT(children, 10);
  deleteNode(root);
}

TEST_F(Solver, PassChildHasNothingToBeat) {
  GameNode* root = position("XY", "5", '2', "7", TYPE_G);
  EXPECT_EQ(ZelkSolver(root, 0), '1');
  ASSERT_NE(root->child, nullptr);
  EXPECT_EQ(root->child->playType, TYPE_PASS);
  EXPECT_STREQ(root->child->lastPlay, "");
  EXPECT_STREQ(root->child->u2Cards, "5");
  deleteNode(root);
}

TEST_F(Solver, StopBeforeTheRootCreatesNothing) {
  setStop(1);
  GameNode* root = position("3", "4", '2');
  int64_t before = nodeCount;
  EXPECT_EQ(ZelkSolver(root, 0), RESULT_STOPPED);
  EXPECT_EQ(nodeCount, before);
  EXPECT_EQ(root->child, nullptr);
  deleteNode(root);
}

// A console that raises the stop flag at the first progress line, so the
// stop arrives deep inside a long search.
class StoppingConsole : public RecordingConsole {
 public:
  bool writeChar(char16_t c) override {
    if (!stopped) {
      stopped = true;
      stopCount = nodeCount;
      setStop(1);
    }
    return RecordingConsole::writeChar(c);
  }
  bool stopped = false;
  int64_t stopCount = 0;
};

TEST_F(Solver, StopMidSearchUnwindsWithinOneNodePerLevel) {
  auto stopping = std::make_shared<StoppingConsole>();
  setConsole(stopping);
  // The first tick makes the next node entered write a progress line, deep
  // inside a search that takes seconds.
  std::thread tick([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    tickSeconds = 1;
  });
  GameNode* root = position("99990JJQQKKAA22", "3334445556667788XY", '2');
  // The root's own verdict is meaningless after a stop; its caller checks the flag.
  ZelkSolver(root, 0);
  tick.join();
  ASSERT_TRUE(stopping->stopped);
  // After the stop every pending level still makes its remaining candidates,
  // each of which returns at once: a few hundred per level at most.
  int64_t after = nodeCount - stopping->stopCount;
  EXPECT_LT(after, 88 * 300);
  deleteNode(root);
}

TEST_F(Solver, ProgressLineBothForms) {
  GameNode* root = position("", "3", '2');
  tickSeconds = 3;
  lastReportSecond = 1;
  lastReportCount = 0;
  nodeCount = 100;
  topMoveCount = 4;
  ZelkSolver(root, 0);
  EXPECT_EQ(console->text(), "sec 3  stnum 100  speed 50/s 5/4 \r\n");
  EXPECT_EQ(lastReportSecond, 3);
  EXPECT_EQ(lastReportCount, 100);
  // Once per value of tickSeconds.
  ZelkSolver(root, 0);
  EXPECT_EQ(console->text(), "sec 3  stnum 100  speed 50/s 5/4 \r\n");

  setFlag(F_DEBUG, 1);
  tickSeconds = 4;
  ZelkSolver(root, 0);
  EXPECT_EQ(
      console->text(),
      "sec 3  stnum 100  speed 50/s 5/4 \r\nsec 4  stnum 100  speed 0/s  (pt2Str:异常，牌型未知) "
      "5/4 \r\n");
  deleteNode(root);
}

TEST_F(Solver, ProgressLineNamesTheFirstPlayBeingSearched) {
  // Table of first plays: 3 and 4 for player2; the search is inside "4".
  tableRoot = newNode();
  GameNode* t3 = position("5", "4", '1', "3", TYPE_G);
  GameNode* t4 = position("5", "3", '1', "4", TYPE_G);
  addChild(tableRoot, t3);
  addChild(tableRoot, t4);  // list order: 4, 3 (the reverse of generation)
  topMoveCount = 2;
  setFlag(F_DEBUG, 1);
  tickSeconds = 1;
  GameNode* first = position("5", "3", '1', "4", TYPE_G);
  ZelkSolver(first, 1);  // depth 1 makes it topNode
  EXPECT_EQ(topNode, first);
  EXPECT_EQ(console->text().substr(0, console->text().find("\r\n") + 2),
            "sec 1  stnum 4  speed 4/s  4(个子) 2/2 \r\n");
  deleteNode(first);
  deleteNode(tableRoot);
  tableRoot = nullptr;
  topNode = nullptr;
}

TEST_F(Solver, NoProgressLineBeforeTheFirstTick) {
  // The seconds ticker of an earlier test may run on; a solve that a tick
  // reached (a loaded machine) is tried again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    console = std::make_shared<RecordingConsole>();
    setConsole(console);
    tickSeconds = 0;
    lastReportSecond = 0;
    GameNode* root = position("AA9", "35577JJQQ2", '2');
    ZelkSolver(root, 0);
    deleteNode(root);
    if (tickSeconds.load() == 0) break;
  }
  EXPECT_EQ(console->text(), "");
}

// Runs in a fresh process so that no node freed by an earlier test can be
// reused below the budget.
TEST_F(Solver, MemoryBudgetStopsTheSearchWithAWellFormedTree) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        nodepool::setBudgetBytes(nodepool::reservedBytes() + 5000 * sizeof(GameNode));
        GameNode* root = position("99990JJQQKKAA22", "3334445556667788XY", '2');
        bool thrown = false;
        try {
          ZelkSolver(root, 0);
        } catch (const CMemoryException& e) {
          thrown = std::string(e.what()) == "node memory budget exhausted";
        }
        nodepool::setBudgetBytes(0);
        bool wellFormed = countNodes(root) > 1;
        deleteNode(root);  // sanitizers check that every node is released once
        std::exit(thrown && wellFormed ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zelk
