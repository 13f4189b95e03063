#include <gtest/gtest.h>

#include <string>

#include "base/output.h"
#include "platform/cqueue.h"
#include "platform/text.h"
#include "solver/release.h"

using namespace zelk;

namespace {

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
