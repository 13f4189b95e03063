// The fast engine's table: emptying it forgets every entry, also across
// wrapped generations, and keeps it usable even when the system has no
// memory left for a fresh one.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "solver/fasttable.h"

namespace zelk::fast {
namespace {

// Bytes of address space the process has now.
long addressSpace() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) return std::stol(line.substr(7)) * 1024;
  return -1;
}

TEST(FastTable, EmptyingForgetsEveryEntryAndStartsFromTheFirstSize) {
  FastTable table(std::size_t(64) << 20);
  const std::size_t first = table.bytes();
  for (uint64_t i = 1; i <= 40000; ++i) table.store(Hand(i), Hand(7), 0, ProofNumbers{0, PN_INF}, 1);
  ASSERT_GT(table.bytes(), first);
  for (int round = 0; round < 2; ++round) {  // grown, then the first size emptied in place
    table.clear();
    EXPECT_EQ(table.stored(), 0);
    EXPECT_EQ(table.bytes(), first);
    ProofNumbers out;
    for (uint64_t i = 1; i <= 40000; ++i) ASSERT_FALSE(table.probe(Hand(i), Hand(7), 0, out)) << i;
    // A key stored again after the old entry went stale is one entry, with
    // the new numbers, wherever the old ones sit in its bucket.
    for (uint64_t i = 1; i <= 40000; i += 50) table.store(Hand(i), Hand(7), 0, ProofNumbers{5, 6}, 1);
    for (uint64_t i = 1; i <= 40000; i += 50) table.store(Hand(i), Hand(7), 0, ProofNumbers{7, 8}, 1);
    EXPECT_EQ(table.stored(), 800);
    ASSERT_TRUE(table.probe(Hand(51), Hand(7), 0, out));
    EXPECT_EQ(out.pn, 7u);
    EXPECT_EQ(out.dn, 8u);
    EXPECT_FALSE(table.probe(Hand(2), Hand(7), 0, out));
  }
}

// The table doubles in place and shrinks back when emptied: what an earlier
// search left in the upper part must never be read as an entry of a later
// one, and growing must keep every entry.
TEST(FastTable, GrowingAgainOverAnEarlierSearchsEntriesFindsOnlyTheNewOnes) {
  FastTable table(std::size_t(64) << 20);
  ProofNumbers out;
  for (int round = 0; round < 3; ++round) {
    const uint32_t pn = static_cast<uint32_t>(10 + round);
    const uint64_t first = round % 2 ? 1 : 20001;  // alternate halves of the keys
    for (uint64_t i = first; i < first + 20000; ++i) table.store(Hand(i), Hand(9), 5, ProofNumbers{pn, 1}, 1);
    ASSERT_GE(table.bytes(), std::size_t(2) << 20) << "the table grew several times";
    int found = 0;
    for (uint64_t i = 1; i <= 40000; ++i) {
      const bool mine = i >= first && i < first + 20000;
      if (table.probe(Hand(i), Hand(9), 5, out)) {
        ASSERT_TRUE(mine) << "round " << round << ": a stale entry for " << i;
        ASSERT_EQ(out.pn, pn);
        ++found;
      }
    }
    EXPECT_EQ(found, table.stored());
    EXPECT_GE(found, 18500);  // some lose their place in a full bucket
    table.clear();
  }
}

TEST(FastTable, AnEntryStaysForgottenWhenTheGenerationsComeRound) {
  FastTable table(std::size_t(1) << 20);
  table.store(Hand(1), Hand(2), 0, ProofNumbers{0, PN_INF}, 1);
  ProofNumbers out;
  for (int i = 0; i < 70000; ++i) {
    table.clear();
    ASSERT_FALSE(table.probe(Hand(1), Hand(2), 0, out)) << "after " << i + 1 << " clears";
    table.store(Hand(3), Hand(4), 0, ProofNumbers{1, 1}, 1);  // something to clear
  }
}

// A grown table is emptied while the system has no memory left to give:
// emptying must need none, forget everything and still take new entries
// (an earlier table mapped a fresh one and was left without any memory).
TEST(FastTable, EmptyingAGrownTableNeedsNoFreshMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers need address space of their own";
#endif
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FastTable table(std::size_t(64) << 20);
    auto hand = [](uint64_t i) { return Hand(i + 1); };
    for (uint64_t i = 0; i < 40000; ++i) table.store(hand(i), Hand(7), 0, ProofNumbers{0, PN_INF}, 1);
    if (table.bytes() <= (std::size_t(512) << 10)) _exit(10);  // it did not grow
    const long now = addressSpace();
    if (now <= 0) _exit(11);
    rlimit limit{static_cast<rlim_t>(now + (64 << 10)), static_cast<rlim_t>(now + (64 << 10))};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(12);
    table.clear();
    ProofNumbers out;
    if (table.stored() != 0 || table.probe(hand(5), Hand(7), 0, out)) _exit(13);
    table.store(hand(5), Hand(7), 0, ProofNumbers{3, 4}, 1);
    if (!table.probe(hand(5), Hand(7), 0, out) || out.pn != 3 || out.dn != 4) _exit(14);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zelk::fast
