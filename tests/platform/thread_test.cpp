#include "platform/thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cstddef>

using namespace zelk;

namespace {

class ThreadStack : public testing::TestWithParam<std::size_t> {};

TEST_P(ThreadStack, TheThreadGetsAtLeastTheStackItAskedFor) {
  std::size_t wanted = GetParam();
  std::size_t got = 0;
  ThreadHandle h = startThread(wanted, [&] {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    pthread_attr_getstacksize(&attr, &got);
    pthread_attr_destroy(&attr);
  });
  ASSERT_TRUE(h.valid());
  h.join();
  EXPECT_FALSE(h.valid());
  EXPECT_GE(got, wanted);
  EXPECT_LT(got, wanted + 1024 * 1024) << "far more than asked: the size was not honoured";
}

INSTANTIATE_TEST_SUITE_P(Sizes, ThreadStack,
                         testing::Values(SOLVER_STACK, RELEASE_STACK, UPDATE_STACK));

TEST(Thread, JoinWaitsForTheBodyAndMovesCarryTheThread) {
  std::atomic<int> done{0};
  ThreadHandle a = startThread(RELEASE_STACK, [&] { done = 1; });
  ThreadHandle b(std::move(a));
  EXPECT_FALSE(a.valid());
  ASSERT_TRUE(b.valid());
  ThreadHandle c;
  c = std::move(b);
  c.join();
  EXPECT_EQ(done.load(), 1);
}

}  // namespace
