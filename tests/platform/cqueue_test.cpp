#include "platform/cqueue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"

using namespace zelk;

namespace {

TEST(CQueue, TakeFromEmptyReportsEmptyAndChangesNothing) {
  CQueue<int> q;
  EXPECT_FALSE(q.take().has_value());
  EXPECT_EQ(q.size(), 0u);
  q.push(1);
  EXPECT_EQ(q.take(), 1);
  EXPECT_FALSE(q.take().has_value());
  EXPECT_EQ(q.size(), 0u);
}

TEST(CQueue, ElementsComeOutInPushOrder) {
  CQueue<std::u16string> q;
  for (const char16_t* t : {u"a", u"b", u"c"}) q.push(t);
  EXPECT_EQ(q.size(), 3u);
  EXPECT_EQ(q.take(), u"a");
  q.push(u"d");
  EXPECT_EQ(q.take(), u"b");
  EXPECT_EQ(q.take(), u"c");
  EXPECT_EQ(q.take(), u"d");
}

TEST(CQueue, ConcurrentProducersKeepTheirOwnOrderAndLoseNothing) {
  constexpr int producers = 4, perProducer = 2000;
  CQueue<std::pair<int, int>> q;
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p)
    threads.emplace_back([&q, p] {
      for (int i = 0; i < perProducer; ++i) q.push({p, i});
    });
  std::vector<int> nextOf(producers, 0);
  int taken = 0, outOfOrder = 0;
  while (taken < producers * perProducer) {
    auto item = q.take();
    if (!item) {
      std::this_thread::yield();
      continue;
    }
    if (item->second != nextOf[item->first]) ++outOfOrder;
    nextOf[item->first] = item->second + 1;
    ++taken;
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(outOfOrder, 0);
  EXPECT_EQ(nextOf, std::vector<int>(producers, perProducer));
  EXPECT_EQ(q.size(), 0u);
}

}  // namespace
