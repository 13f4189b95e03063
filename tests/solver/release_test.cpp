// The release thread deletes queued trees one per second, oldest first.
#include "solver/release.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/format.h"
#include "capture.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "solver/gamenode.h"
#include "solver/nodepool.h"
#include "solver/solver.h"

namespace zelk {
namespace {

GameNode* smallTree(const char* u1, const char* u2) {
  GameNode* root = newNode();
  std::strcpy(root->u1Cards, u1);
  std::strcpy(root->u2Cards, u2);
  for (int i = 0; i < 3; ++i) {
    GameNode* c = newNode();
    addChild(root, c);
    addChild(c, newNode());
  }
  return root;
}

TEST(Release, TwoTreesAreFreedInTwoPassesOldestFirst) {
  testing::drainQueued();
  GameNode* a = smallTree("3", "4");
  GameNode* b = smallTree("5", "6");
  qZelk2Free.push(a);
  qZelk2Free.push(b);
  startReleaseThreads();
  startReleaseThreads();  // once per process: the second call starts nothing
  std::vector<std::string> lines;
  std::vector<uint32_t> when;
  uint32_t start = tickCount();
  while (lines.size() < 4 && tickCount() - start < 10000) {
    for (std::string& t : testing::drainQueued()) {
      lines.push_back(t);
      when.push_back(tickCount());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(lines.size(), 4u);
  auto pointer = [](const void* p) { return utf16ToUtf8(formatText(u"%p", p)); };
  EXPECT_EQ(lines[0], "ThreadZelkFree:[" + pointer(a) + "][3][4] to free..\n");
  EXPECT_EQ(lines[1], "ThreadZelkFree:[" + pointer(a) + "]freed!![1]\r\n");
  EXPECT_EQ(lines[2], "ThreadZelkFree:[" + pointer(b) + "][5][6] to free..\n");
  EXPECT_EQ(lines[3], "ThreadZelkFree:[" + pointer(b) + "]freed!![0]\r\n");
  EXPECT_GE(when[2] - when[1], 900u);
  EXPECT_EQ(qZelk2Free.size(), 0u);
  // The ticker runs too.
  int32_t t0 = tickSeconds.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_GT(tickSeconds.load(), t0);
}

TEST(Release, HandOverDeletesTheTableAndQueuesTheRoot) {
  tableRoot = smallTree("3", "4");
  GameNode* root = smallTree("5", "6");
  handOverTree(root);
  EXPECT_EQ(tableRoot, nullptr);
  ASSERT_EQ(qZelk2Free.size(), 1u);
  std::optional<GameNode*> queued = qZelk2Free.take();
  ASSERT_TRUE(queued);
  EXPECT_EQ(*queued, root);
  deleteNode(root);
}

// Every node handed over goes back to the pool (in a fresh process, where
// no other test's nodes live).
TEST(Release, NoNodeOfAHandedOverTreeStaysAlive) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // Handed over by a solver thread of its own, which ends.
        std::thread([] {
          tableRoot = smallTree("3", "4");
          handOverTree(smallTree("5", "6"));
        }).join();
        if (nodepool::liveNodes() != 7) std::exit(1);  // the root and its six
        startReleaseThreads();
        for (int i = 0; i < 1000 && nodepool::liveNodes() != 0; ++i) sleepMs(10);
        std::exit(nodepool::liveNodes() == 0 ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zelk
