// The fast engine's table: emptying it forgets every entry, also across
// wrapped generations, and keeps it usable even when the system has no
// memory left for a fresh one.
#include "solver/fasttable.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zelk::fast {
namespace {

// Bytes of address space the process has now.
long addressSpace() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) return std::stol(line.substr(7)) * 1024;
  return -1;
}

// Distinct hands for distinct i, at most two of a rank: any two of them
// come from one pack.
Hand hand(uint64_t i) {
  Hand h = 0;
  for (int r = 0; i; ++r, i /= 3) h |= Hand(i % 3) << (4 * r);
  return h;
}

constexpr Hand OPP = unit(0) + 2 * unit(3) + unit(RANK_Y);  // 3 66 Y

TEST(FastTable, EmptyingForgetsEveryEntryAndStartsFromTheFirstSize) {
  FastTable table(std::size_t(64) << 20);
  const std::size_t first = table.bytes();
  for (uint64_t i = 1; i <= 40000; ++i) table.store(hand(i), OPP, 0, ProofNumbers{0, PN_INF}, 1);
  ASSERT_GT(table.bytes(), first);
  for (int round = 0; round < 2; ++round) {  // grown, then the first size emptied in place
    table.clear();
    EXPECT_EQ(table.stored(), 0);
    EXPECT_EQ(table.bytes(), first);
    ProofNumbers out;
    for (uint64_t i = 1; i <= 40000; ++i) ASSERT_FALSE(table.probe(hand(i), OPP, 0, out)) << i;
    // A key stored again after the old entry went stale is one entry, with
    // the new numbers, wherever the old ones sit in its bucket.
    for (uint64_t i = 1; i <= 40000; i += 50) table.store(hand(i), OPP, 0, ProofNumbers{5, 6}, 1);
    for (uint64_t i = 1; i <= 40000; i += 50) table.store(hand(i), OPP, 0, ProofNumbers{7, 8}, 1);
    EXPECT_EQ(table.stored(), 800);
    ASSERT_TRUE(table.probe(hand(51), OPP, 0, out));
    EXPECT_EQ(out.pn, 7u);
    EXPECT_EQ(out.dn, 8u);
    EXPECT_FALSE(table.probe(hand(2), OPP, 0, out));
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
    for (uint64_t i = first; i < first + 20000; ++i)
      table.store(hand(i), OPP, 5, ProofNumbers{pn, 1}, 1);
    ASSERT_GE(table.bytes(), std::size_t(1) << 20) << "the table grew";
    int found = 0;
    for (uint64_t i = 1; i <= 40000; ++i) {
      const bool mine = i >= first && i < first + 20000;
      if (table.probe(hand(i), OPP, 5, out)) {
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

// A compact entry keeps only part of its position: positions that differ
// in one count of one side, or in any bit of the play to beat, must never
// read each other's numbers, however they share buckets.
TEST(FastTable, CompactEntriesTellEveryPositionApart) {
  FastTable table(std::size_t(1) << 20);  // small: its buckets fill up
  ASSERT_FALSE(table.wide());
  std::vector<std::pair<Hand, Hand>> pairs;
  // Every split of 0 to 4 cards of ranks 3, 4 and the 2, and of each joker.
  auto splits = [](int most, std::vector<std::pair<int, int>>& out) {
    for (int a = 0; a <= most; ++a)
      for (int b = 0; a + b <= most; ++b) out.emplace_back(a, b);
  };
  std::vector<std::pair<int, int>> four, one;
  splits(4, four);
  splits(1, one);
  for (auto [a0, b0] : four)
    for (auto [a1, b1] : four)
      for (auto [a2, b2] : four)
        for (auto [ay, by] : one) {
          const Hand me = a0 * unit(0) + a1 * unit(1) + a2 * unit(RANK_2) + ay * unit(RANK_Y);
          const Hand opp = b0 * unit(0) + b1 * unit(1) + b2 * unit(RANK_2) + by * unit(RANK_Y);
          if (me && opp) pairs.emplace_back(me, opp);
        }
  const uint16_t beats[] = {0,
                            packBeat(Beat{TYPE_G, 1, 5}),
                            packBeat(Beat{TYPE_G, 1, 6}),
                            packBeat(Beat{TYPE_SZ, 5, 5}),
                            packBeat(Beat{TYPE_SZ, 6, 5}),
                            static_cast<uint16_t>(packBeat(Beat{TYPE_G, 1, 5}) | 1u << 13)};
  uint32_t n = 0;
  for (auto [me, opp] : pairs)
    for (uint16_t beat : beats) table.store(me, opp, beat, ProofNumbers{++n, 1}, 1);
  n = 0;
  int found = 0;
  ProofNumbers out;
  for (auto [me, opp] : pairs)
    for (uint16_t beat : beats) {
      ++n;
      if (!table.probe(me, opp, beat, out)) continue;  // lost its place in a full bucket
      ASSERT_EQ(out.pn, n) << std::hex << me << " " << opp << " " << beat;
      ++found;
    }
  EXPECT_EQ(found, table.stored());
  EXPECT_GT(found, static_cast<int>(n) * 3 / 4);  // most stay: the probes did look
}

TEST(FastTable, NumbersBeyondTheCompactRangeKeepTheirMeaning) {
  FastTable table(std::size_t(1) << 20);
  ProofNumbers out;
  table.store(hand(1), OPP, 0, ProofNumbers{0, PN_INF}, 1);
  ASSERT_TRUE(table.probe(hand(1), OPP, 0, out));
  EXPECT_EQ(out.pn, 0u);
  EXPECT_EQ(out.dn, PN_INF);
  // Large finite numbers stay finite and large: never proven, never infinite.
  table.store(hand(2), OPP, 0, ProofNumbers{PN_INF - 1, 123456789}, uint64_t(1) << 40);
  ASSERT_TRUE(table.probe(hand(2), OPP, 0, out));
  EXPECT_GT(out.pn, 100000000u);
  EXPECT_LT(out.pn, PN_INF);
  EXPECT_EQ(out.dn, 123456789u);
}

TEST(FastTable, HandsThatDoNotFitGoToWideEntries) {
  const Hand fours = 4 * unit(0) + 4 * unit(RANK_2);
  EXPECT_TRUE(FastTable::fitsCompact(fours, unit(RANK_X) + unit(RANK_Y)));
  EXPECT_TRUE(FastTable::fitsCompact(3 * unit(5), unit(5)));
  EXPECT_FALSE(FastTable::fitsCompact(3 * unit(5), 2 * unit(5)));  // five 8s
  EXPECT_FALSE(FastTable::fitsCompact(fours, unit(RANK_2)));
  EXPECT_FALSE(FastTable::fitsCompact(5 * unit(0), 0));
  FastTable table(std::size_t(8) << 20);
  ProofNumbers out;
  table.store(hand(3), OPP, 0, ProofNumbers{1, 2}, 1);
  table.setWide(true);  // what compact entries held is gone
  EXPECT_EQ(table.stored(), 0);
  EXPECT_FALSE(table.probe(hand(3), OPP, 0, out));
  // Both sides with four of every rank (two packs), through several doublings.
  const std::size_t first = table.bytes();
  for (uint64_t i = 1; i <= 30000; ++i)
    table.store(fours + hand(i), fours, 7, ProofNumbers{uint32_t(i), 9}, 1);
  EXPECT_GT(table.bytes(), first);
  int found = 0;
  for (uint64_t i = 1; i <= 30000; ++i) {
    if (!table.probe(fours + hand(i), fours, 7, out)) continue;
    ASSERT_EQ(out.pn, i);
    ASSERT_EQ(out.dn, 9u);
    ++found;
  }
  EXPECT_EQ(found, table.stored());
  EXPECT_GT(found, 25000);
  EXPECT_FALSE(table.probe(fours + hand(1), fours, 6, out));
  table.setWide(false);
  EXPECT_FALSE(table.probe(fours + hand(1), fours, 7, out));
  EXPECT_EQ(table.stored(), 0);
}

// The owner grows a shared table several times while a helper stores and
// probes keys of its own in it: no entry ever reads another's numbers, and
// the entries counted are the entries there.
TEST(FastTable, ASharedTableGrowsWhileTheHelperWorks) {
  FastTable table(std::size_t(64) << 20);
  constexpr Hand HELPER_OPP = unit(1) + unit(RANK_X);
  // The owner alone fills the table past three doublings.
  constexpr uint64_t OWNER_KEYS = 140000, HELPER_KEYS = 20000;
  const std::size_t first = table.bytes();
  table.beginShared();
  std::atomic<bool> stop{false};
  std::string failure;
  std::thread helper([&] {
    ProofNumbers out;
    for (uint64_t n = 0; !stop.load(std::memory_order_relaxed) && failure.empty(); ++n) {
      table.pausePoint();
      const uint64_t i = n % HELPER_KEYS + 1;
      table.store(table.key(hand(i), HELPER_OPP, 3), ProofNumbers{uint32_t(i), 5}, 1, false);
      table.pausePoint();
      const uint64_t j = (n * 7919) % HELPER_KEYS + 1;
      if (table.probe(hand(j), HELPER_OPP, 3, out) && out.pn != j)
        failure = "helper key " + std::to_string(j);
      table.pausePoint();
      const uint64_t o = (n * 104729) % OWNER_KEYS + 1;
      if (table.probe(hand(o), OPP, 0, out) && (out.pn != o || out.dn != 7))
        failure = "owner key " + std::to_string(o) + " read by the helper";
    }
    table.helperDone();
  });
  ProofNumbers out;
  for (uint64_t i = 1; i <= OWNER_KEYS; ++i) {
    table.store(hand(i), OPP, 0, ProofNumbers{uint32_t(i), 7}, 1);
    const uint64_t j = (i * 31) % i + 1;
    if (table.probe(hand(j), HELPER_OPP, 3, out) && out.pn != j)
      failure = "helper key read by the owner";
  }
  stop.store(true);
  helper.join();
  table.endShared();
  ASSERT_EQ(failure, "");
  EXPECT_GE(table.bytes(), first * 8) << "grew while shared";
  int64_t found = 0;
  for (uint64_t i = 1; i <= OWNER_KEYS; ++i)
    if (table.probe(hand(i), OPP, 0, out)) {
      ASSERT_EQ(out.pn, i);
      ++found;
    }
  for (uint64_t i = 1; i <= HELPER_KEYS; ++i)
    if (table.probe(hand(i), HELPER_OPP, 3, out)) {
      ASSERT_EQ(out.pn, i);
      ++found;
    }
  EXPECT_EQ(found, table.stored());
  EXPECT_GT(found, int64_t(OWNER_KEYS * 9 / 10));
}

// Past 8 MiB a filter answers most probes of positions not there: it must
// never hide one that is, through doublings, an emptying and a regrowth.
TEST(FastTable, EveryEntryOfABigTableIsFoundPastItsFilter) {
  for (const bool wide : {false, true}) {
    FastTable table(std::size_t(64) << 20);
    table.setWide(wide);
    const Hand extra = wide ? 4 * unit(0) + 4 * unit(RANK_2) : 0;
    ProofNumbers out;
    for (const uint64_t keys : {400000u, 250000u}) {
      table.clear();
      for (uint64_t i = 1; i <= keys; ++i)
        table.store(extra + hand(i), OPP, 2, ProofNumbers{uint32_t(i), 3}, 1);
      int64_t found = 0;
      for (uint64_t i = 1; i <= 400000; ++i)
        if (table.probe(extra + hand(i), OPP, 2, out)) {
          ASSERT_TRUE(i <= keys && out.pn == i) << "wide " << wide << ": " << i;
          ++found;
        }
      EXPECT_EQ(found, table.stored()) << "wide " << wide << ", " << keys << " keys";
      EXPECT_GT(found, int64_t(keys * 3 / 4)) << "so many entries grow it past 8 MiB";
    }
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
    for (uint64_t i = 1; i <= 40000; ++i) table.store(hand(i), OPP, 0, ProofNumbers{0, PN_INF}, 1);
    if (table.bytes() <= (std::size_t(512) << 10)) _exit(10);  // it did not grow
    const long now = addressSpace();
    if (now <= 0) _exit(11);
    rlimit limit{static_cast<rlim_t>(now + (64 << 10)), static_cast<rlim_t>(now + (64 << 10))};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(12);
    table.clear();
    ProofNumbers out;
    if (table.stored() != 0 || table.probe(hand(5), OPP, 0, out)) _exit(13);
    table.store(hand(5), OPP, 0, ProofNumbers{3, 4}, 1);
    if (!table.probe(hand(5), OPP, 0, out) || out.pn != 3 || out.dn != 4) _exit(14);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zelk::fast
