#include "run/cqueue.h"

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

// "sMutex_CQueue_[hhmmss][n]" split into its time and its number; false when
// the name has another form.
bool splitName(const std::u16string& name, std::string& time, int& number) {
  std::string s = utf16ToUtf8(name);
  const std::string head = "sMutex_CQueue_[";
  if (s.size() < head.size() + 11 || s.compare(0, head.size(), head) != 0) return false;
  time = s.substr(head.size(), 6);
  if (time.find_first_not_of("0123456789") != std::string::npos) return false;
  std::string rest = s.substr(head.size() + 6);
  if (rest.size() < 4 || rest.compare(0, 2, "][") != 0 || rest.back() != ']') return false;
  std::string digits = rest.substr(2, rest.size() - 3);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  number = std::stoi(digits);
  return true;
}

TEST(CQueue, TheTwoQueuesCarry25And27FromOneSecond) {
  std::string timeA, timeB, timeC;
  int a = 0, b = 0, c = 0;
  ASSERT_TRUE(splitName(mStrSeq.mutexName(), timeA, a)) << utf16ToUtf8(mStrSeq.mutexName());
  ASSERT_TRUE(splitName(qZelk2Free.mutexName(), timeB, b)) << utf16ToUtf8(qZelk2Free.mutexName());
  EXPECT_EQ(a, 25);
  EXPECT_EQ(b, 27);
  EXPECT_EQ(timeA, timeB) << "both are made at start-up, within one second";

  CQueue<int> later;
  ASSERT_TRUE(splitName(later.mutexName(), timeC, c)) << utf16ToUtf8(later.mutexName());
  EXPECT_GE(c, 29);
  EXPECT_EQ(c % 2, 1) << "the sequence advances by two";
}

TEST(CQueue, ReleaseQueueHandsOverTreeRoots) {
  GameNode* root = reinterpret_cast<GameNode*>(&root);  // only the pointer travels
  qZelk2Free.push(root);
  EXPECT_EQ(qZelk2Free.take(), root);
  EXPECT_FALSE(qZelk2Free.take().has_value());
}

}  // namespace
