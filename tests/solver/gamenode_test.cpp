// Nodes, child lists, findC, KillBrother and the pool behind them.
#include "solver/gamenode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "capture.h"
#include "rules/switches.h"
#include "solver/nodepool.h"

namespace zelk {
namespace {

using testing::RecordingConsole;

GameNode* child(GameNode* parent, const char* u1, const char* u2, const char* last, int type) {
  GameNode* c = newNode();
  std::strcpy(c->u1Cards, u1);
  std::strcpy(c->u2Cards, u2);
  std::strcpy(c->lastPlay, last);
  c->playType = type;
  addChild(parent, c);
  return c;
}

class Nodes : public ::testing::Test {
 protected:
  void SetUp() override {
    console = std::make_shared<RecordingConsole>();
    setConsole(console);
  }
  void TearDown() override {
    setConsole(nullptr);
    setFlag(F_U1F, 0);
    testing::drainQueued();
  }
  std::shared_ptr<RecordingConsole> console;
};

TEST_F(Nodes, NewNodeIsZeroButOpenAndCounted) {
  int64_t before = nodeCount;
  GameNode* n = newNode();
  EXPECT_EQ(nodeCount, before + 1);
  EXPECT_EQ(n->result, '3');
  EXPECT_EQ(n->playType, 0);
  EXPECT_EQ(n->turn, '\0');
  EXPECT_EQ(n->next, nullptr);
  EXPECT_EQ(n->child, nullptr);
  EXPECT_STREQ(n->u1Cards, "");
  deleteNode(n);
  EXPECT_EQ(nodeCount, before + 1);  // deletion never counts down
}

TEST_F(Nodes, ChildrenStandNewestFirstAndCopyLeavesLinks) {
  GameNode* root = newNode();
  GameNode* a = child(root, "3", "4", "5", 1);
  GameNode* b = child(root, "3", "4", "6", 1);
  EXPECT_EQ(root->child, b);
  EXPECT_EQ(b->next, a);
  GameNode* copy = newNode();
  copyPosition(copy, b);
  EXPECT_STREQ(copy->lastPlay, "6");
  EXPECT_EQ(copy->next, nullptr);
  EXPECT_EQ(countNodes(root), 3);
  EXPECT_EQ(countNodes(nullptr), 0);
  EXPECT_EQ(countNodes(copy), 1);
  deleteNode(copy);
  deleteNode(root);
}

TEST_F(Nodes, FindCComparesCardsInAnyOrderAndChangesNothing) {
  GameNode* root = newNode();
  child(root, "3", "4", "KKKK65", TYPE_411);
  GameNode* want = child(root, "3", "4", "KKKK56", TYPE_411);
  child(root, "3", "4", "9", TYPE_G);
  char key[] = "KK6KK5";
  EXPECT_EQ(findC(root, "3", "4", key, false), want);
  EXPECT_STREQ(key, "KK6KK5");
  EXPECT_STREQ(want->lastPlay, "KKKK56");
  EXPECT_EQ(findC(root, "3", "4", "KKKK57", false), nullptr);
  EXPECT_EQ(findC(nullptr, "3", "4", "", true), nullptr);
  EXPECT_EQ(console->text(), "");
  deleteNode(root);
}

TEST_F(Nodes, FindCVerboseLines) {
  GameNode* root = newNode();
  EXPECT_EQ(findC(root, "3", "4", "5", true), nullptr);
  EXPECT_EQ(console->text(), "findC:[3][4][5]--n\r\nfindC:异常:NULL:没有找到牌局\r\n");
  child(root, "3", "4", "5", TYPE_G);
  setFlag(F_U1F, 1);
  EXPECT_NE(findC(root, "3", "4", "5", true), nullptr);
  EXPECT_EQ(console->text(),
            "findC:[3][4][5]--n\r\nfindC:异常:NULL:没有找到牌局\r\n"
            "findC:[3][4][5]--n\r\nfindC:异常\r\nC:[3][4][5]--while--个子\r\n");
  deleteNode(root);
}

TEST_F(Nodes, KillBrotherKeepsOnlyTheWinner) {
  GameNode* root = newNode();
  GameNode* older = child(root, "3", "4", "5", 1);
  child(older, "3", "4", "", 0);
  GameNode* winner = child(root, "3", "4", "6", 1);
  KillBrother(root, older);  // not the first child: nothing happens
  EXPECT_EQ(console->text(), "KillBrother:!\r\n");
  EXPECT_EQ(countNodes(root), 4);
  KillBrother(root, winner);
  EXPECT_EQ(winner->next, nullptr);
  EXPECT_EQ(countNodes(root), 2);
  KillBrother(root, winner);  // alone already: nothing to delete
  EXPECT_EQ(countNodes(root), 2);
  deleteNode(root);
}

TEST_F(Nodes, DeletingAHugeSiblingListNeedsNoDeepStack) {
  GameNode* root = newNode();
  for (int i = 0; i < 200000; ++i) child(root, "3", "4", "5", 1);
  GameNode* deep = root->child;
  for (int i = 0; i < 100000; ++i) deep = child(deep, "3", "4", "5", 1);
  EXPECT_EQ(countNodes(root), 300001);
  deleteNode(root);
}

TEST_F(Nodes, TreesBuiltOnOneThreadAreFreedOnAnother) {
  for (int round = 0; round < 3; ++round) {
    GameNode* root = newNode();
    for (int i = 0; i < 50000; ++i) child(root, "3", "4", "5", 1);
    std::thread([root] {
      deleteNode(root);
      nodepool::flushThreadCache();
    }).join();
  }
  // The freed nodes come back to this thread before the pool grows.
  std::size_t reserved = nodepool::reservedBytes();
  GameNode* root = newNode();
  for (int i = 0; i < 50000; ++i) child(root, "3", "4", "5", 1);
  EXPECT_EQ(nodepool::reservedBytes(), reserved);
  deleteNode(root);
}

TEST_F(Nodes, TopMovePositionFindsTheFirstPlayInTheTable) {
  tableRoot = newNode();
  child(tableRoot, "3", "4", "5", 1);
  GameNode* second = child(tableRoot, "3", "4", "6", 1);
  topNode = nullptr;
  EXPECT_EQ(topMovePosition(), 0);
  GameNode* top = newNode();
  copyPosition(top, second);
  topNode = top;
  EXPECT_EQ(topMovePosition(), 1);
  std::strcpy(top->lastPlay, "9");
  EXPECT_EQ(topMovePosition(), 2);  // none equal: the number of children
  deleteNode(top);
  deleteNode(tableRoot);
  tableRoot = nullptr;
  topNode = nullptr;
}

}  // namespace
}  // namespace zelk
