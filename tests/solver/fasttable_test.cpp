// The fast engine's table: emptying it keeps it usable even when the system
// has no memory left for a fresh one.
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

// A grown table is emptied; the system refuses the small fresh table, so
// the grown one is kept and wiped: it must forget everything and still
// take new entries (it used to be left without any memory at all).
TEST(FastTable, EmptyingWithoutMemoryForAFreshTableKeepsTheOldOne) {
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
