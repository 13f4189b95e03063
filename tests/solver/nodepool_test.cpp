// The node pool: batches between threads, reuse in address order once idle.
// Each test runs in a fresh process (a death test that exits), since the
// pool is process-wide and other tests leave free nodes behind.
#include "solver/nodepool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <thread>
#include <vector>

#include "solver/gamenode.h"

namespace zelk {
namespace {

// A tree of n children under a root.
GameNode* bush(int n) {
  GameNode* root = newNode();
  for (int i = 0; i < n; ++i) addChild(root, newNode());
  return root;
}

std::vector<GameNode*> members(GameNode* root) {
  std::vector<GameNode*> all{root};
  for (GameNode* c = root->child; c; c = c->next) all.push_back(c);
  return all;
}

TEST(NodePool, IdlePoolHandsOutItsBlocksAgainInAddressOrder) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // Free a big tree in an order far from the order it was built in.
        GameNode* root = bush(200000);
        std::vector<GameNode*> nodes = members(root);
        root->child = nullptr;
        for (std::size_t i = 1; i < nodes.size(); i += 2) nodepool::release(nodes[i]);
        for (std::size_t i = 2; i < nodes.size(); i += 2) nodepool::release(nodes[i]);
        nodepool::release(nodes[0]);
        const std::size_t reserved = nodepool::reservedBytes();
        if (!nodepool::recycleIfIdle()) std::exit(1);
        // Fresh allocations now follow each other in memory and stay within
        // the memory already taken.
        GameNode* prev = nodepool::allocate();
        int sequential = 0;
        for (int i = 0; i < 1000; ++i) {
          GameNode* n = nodepool::allocate();
          if (n == prev + 1) ++sequential;
          prev = n;
        }
        if (sequential != 1000 || nodepool::reservedBytes() != reserved) std::exit(2);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(NodePool, NothingIsRecycledWhileANodeLives) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        GameNode* keep = bush(100000);
        deleteNode(bush(100000));
        if (nodepool::recycleIfIdle()) std::exit(1);
        // The live tree's nodes are never handed out again.
        std::vector<GameNode*> live = members(keep);
        std::set<GameNode*> liveSet(live.begin(), live.end());
        GameNode* more = bush(150000);
        for (GameNode* n : members(more))
          if (liveSet.count(n)) std::exit(2);
        deleteNode(more);
        deleteNode(keep);
        if (!nodepool::recycleIfIdle()) std::exit(3);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(NodePool, FreeNodesCachedByAnotherThreadBlockTheRecycling) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        GameNode* root = bush(50000);
        bool recycled = true;
        // The other thread frees without handing its cache over, then waits.
        std::thread([&] {
          deleteNode(root);
          std::thread([&] { recycled = nodepool::recycleIfIdle(); }).join();
          nodepool::flushThreadCache();
        }).join();
        if (recycled) std::exit(1);
        if (!nodepool::recycleIfIdle()) std::exit(2);  // handed over: idle now
        // And the nodes freed elsewhere serve this thread without new memory.
        const std::size_t reserved = nodepool::reservedBytes();
        deleteNode(bush(50000));
        std::exit(nodepool::reservedBytes() == reserved ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zelk
