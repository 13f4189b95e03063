// Benchmark of the fast engine against the exhaustive solver: the solver
// benchmark's list and the published endgames with both engines (the
// exhaustive one stopped after a time limit), then random deals of 17 and
// 20 cards a side (fixed seed) with the fast engine alone. Single thread,
// unless --threads 2 gives the random deals two.
//
//   fastbench [--quick] [--deals N] [--size CARDS] [--table MiB] [--limit SECONDS]
//             [--threads N]
//
// --size runs only random deals of that many cards a side (no fixed list).
//
// Prints each verdict, time and positions searched, the median and worst
// time of the random deals, the peak memory, and a signature: the positions
// the fast engine searched on one thread over the whole run (the same build
// always gives the same number; searches on two threads do not, and are
// left out of it).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/output.h"
#include "rules/cards.h"
#include "rules/switches.h"
#include "solver/fastengine.h"
#include "solver/gamenode.h"
#include "solver/nodepool.h"
#include "solver/solver.h"

namespace {

using zelk::FastEngine;

std::string asc(std::string s) {
  std::sort(s.begin(), s.end(), [](char a, char b) { return zelk::rankOf(a) < zelk::rankOf(b); });
  return s;
}

struct Run {
  char winner;
  double seconds;
  int64_t positions;
};

Run solveOne(FastEngine& engine, const std::string& player1, const std::string& player2) {
  engine.reset();
  std::string u1 = asc(player1), u2 = asc(player2);
  auto t0 = std::chrono::steady_clock::now();
  char w = engine.solve(u1.c_str(), u2.c_str(), "", 0, '2');
  const int64_t positions = engine.positionsSearched();
  // The time runs, as zelk reports it, until the first winning play is known
  // too; the positions stay those of the verdict, the signature's.
  engine.bestMove(u1.c_str(), u2.c_str(), "", 0, '2');
  auto t1 = std::chrono::steady_clock::now();
  return Run{w, std::chrono::duration<double>(t1 - t0).count(), positions};
}

long peakMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) / 1024;
  return 0;
}

// The exhaustive solver, stopped after `limit` seconds: winner '1'/'2', or
// 's' (stopped) or 'm' (out of memory).
Run exhaustive(const std::string& player1, const std::string& player2, double limit) {
  zelk::nodeCount = 0;
  zelk::GameNode* root = zelk::newNode();
  std::string u1 = asc(player1), u2 = asc(player2);
  std::copy(u1.begin(), u1.end(), root->u1Cards);
  std::copy(u2.begin(), u2.end(), root->u2Cards);
  root->turn = '2';
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
    while (!done.load() && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!done.load()) zelk::setStop(1);
  });
  zelk::setStop(0);
  auto t0 = std::chrono::steady_clock::now();
  char w;
  try {
    w = zelk::ZelkSolver(root, 0);
    // After a stop the root's answer means nothing.
    if (zelk::stopRequested()) w = 's';
  } catch (const zelk::CMemoryException&) {
    w = 'm';
  }
  auto t1 = std::chrono::steady_clock::now();
  done.store(true);
  watchdog.join();
  zelk::setStop(0);
  zelk::deleteNode(root);
  while (zelk::mStrSeq.take()) {
  }
  return Run{w, std::chrono::duration<double>(t1 - t0).count(), zelk::nodeCount};
}

const char* verdict(char w) {
  switch (w) {
    case '1': return "player1";
    case '2': return "player2";
    case 's': return "stopped";
    case 'm': return "memory";
    default: return "?";
  }
}

}  // namespace

int main(int argc, char** argv) {
  int deals = 15;
  bool quick = false;
  double limit = 20;
  std::size_t tableMiB = FastEngine::DEFAULT_TABLE_BYTES >> 20;
  std::vector<int> sizes = {17, 20};
  bool fixedList = true;
  int threads = 1;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--quick"))
      quick = true;
    else if (!std::strcmp(argv[i], "--deals") && i + 1 < argc)
      deals = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--limit") && i + 1 < argc)
      limit = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--size") && i + 1 < argc) {
      sizes = {std::atoi(argv[++i])};
      fixedList = false;
      if (sizes[0] < 1 || sizes[0] > 27) {
        std::fprintf(stderr, "fastbench: --size takes 1 to 27 cards\n");
        return 2;
      }
    } else if (!std::strcmp(argv[i], "--table") && i + 1 < argc)
      tableMiB = std::strtoul(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--threads") && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
      if (threads < 1 || threads > 2) {
        std::fprintf(stderr, "fastbench: --threads takes 1 or 2\n");
        return 2;
      }
    } else {
      std::fprintf(
          stderr,
          "usage: fastbench [--quick] [--deals N] [--size CARDS] [--table MiB] [--limit SECONDS]\n"
          "                 [--threads N]\n"
          "  --size CARDS  only random deals of this many cards a side\n"
          "  --threads N   threads for the random deals: 1 (default) or 2\n");
      return 2;
    }
  }
  if (quick) {
    deals = std::min(deals, 3);
    limit = std::min(limit, 2.0);
  }
  zelk::resetRuleSwitches();
  zelk::nodepool::setBudgetBytes(std::size_t(2) << 30);
  FastEngine engine(tableMiB << 20);
  engine.setProgress(false);
  int64_t signature = 0;
  int failures = 0;

  struct Endgame {
    const char* player2;  // leads
    const char* player1;
    char winner;  // 0: not published
  } endgames[] = {{"2QQJJ77553", "AA9", 0},       {"225543", "KK5543", 0},
                  {"2KK0077554", "AA8", 0},       {"XAKK09876", "22AKQJ", 0},
                  {"X2AJ09876", "Y2AKQ0985", 0},  {"22AKQJ0987", "2AKQJ09876", 0},
                  {"KK5543", "225543", '2'},      {"2KK0077554", "AA8", '1'},
                  {"2AK096554", "XKJ08854", '2'}, {"YAQQJJ0999844", "X22AA0886633", '2'}};
  std::printf("Both engines (exhaustive stopped after %.0f s; fast table %zu MiB)\n", limit,
              tableMiB);
  std::printf("%-14s %-14s %-9s | %-8s %9s %12s | %-8s %9s %10s\n", "player2", "player1",
              "published", "exhaust.", "seconds", "positions", "fast", "seconds", "positions");
  for (const Endgame& g : endgames) {
    if (!fixedList) break;
    Run slow = exhaustive(g.player1, g.player2, limit);
    Run r = solveOne(engine, g.player1, g.player2);
    signature += r.positions;
    if (g.winner && r.winner != g.winner) ++failures;
    if ((slow.winner == '1' || slow.winner == '2') && slow.winner != r.winner) ++failures;
    std::printf("%-14s %-14s %-9s | %-8s %9.3f %12lld | %-8s %9.4f %10lld\n", g.player2, g.player1,
                g.winner ? verdict(g.winner) : "-", verdict(slow.winner), slow.seconds,
                static_cast<long long>(slow.positions), verdict(r.winner), r.seconds,
                static_cast<long long>(r.positions));
    std::fflush(stdout);
  }

  for (int size : sizes) {
    if (quick && size == 20) break;
    std::mt19937 rng(1000 + static_cast<unsigned>(size));
    std::vector<double> times;
    std::printf("\nRandom deals, %d cards a side (seed %d)%s\n", size, 1000 + size,
                threads > 1 ? ", two threads" : "");
    engine.setThreads(threads);
    for (int d = 0; d < deals; ++d) {
      std::string pack;
      for (int r = 0; r < 13; ++r) pack.append(4, zelk::RANK_ORDER[r]);
      pack += "XY";
      std::shuffle(pack.begin(), pack.end(), rng);
      std::string p1 = pack.substr(0, static_cast<std::size_t>(size));
      std::string p2 = pack.substr(static_cast<std::size_t>(size), static_cast<std::size_t>(size));
      Run r = solveOne(engine, p1, p2);
      if (threads == 1) signature += r.positions;
      times.push_back(r.seconds);
      std::printf("  %-22s %-22s player%c %9.4f s %12lld\n", asc(p2).c_str(), asc(p1).c_str(),
                  r.winner, r.seconds, static_cast<long long>(r.positions));
      std::fflush(stdout);
    }
    if (times.empty()) continue;
    std::sort(times.begin(), times.end());
    std::printf("  median %.4f s  worst %.4f s\n", times[times.size() / 2], times.back());
  }
  std::printf("\nPeak memory: %ld MiB\n", peakMiB());
  std::printf("Positions searched: %lld\n", static_cast<long long>(signature));
  if (failures) std::printf("VERDICTS DIFFER: %d\n", failures);
  return failures ? 1 : 0;
}
