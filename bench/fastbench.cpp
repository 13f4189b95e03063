// Benchmark of the fast engine: the published endgames and random deals of
// 17 and 20 cards a side (fixed seed), single thread.
//
//   fastbench [--quick] [--deals N] [--table MiB]
//
// Prints each verdict, time and positions searched, the median and worst
// time of the random deals, the peak memory, and a signature: the positions
// searched over the whole run (the same build always gives the same number).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "rules/cards.h"
#include "rules/switches.h"
#include "solver/fastengine.h"

namespace {

using zelk::FastEngine;

std::string asc(std::string s) {
  std::sort(s.begin(), s.end(),
            [](char a, char b) { return zelk::rankOf(a) < zelk::rankOf(b); });
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
  auto t1 = std::chrono::steady_clock::now();
  return Run{w, std::chrono::duration<double>(t1 - t0).count(), engine.positionsSearched()};
}

long peakMiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  int deals = 15;
  bool quick = false;
  std::size_t tableMiB = FastEngine::DEFAULT_TABLE_BYTES >> 20;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--quick")) quick = true;
    else if (!std::strcmp(argv[i], "--deals") && i + 1 < argc) deals = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--table") && i + 1 < argc) tableMiB = std::strtoul(argv[++i], nullptr, 10);
    else {
      std::fprintf(stderr, "usage: fastbench [--quick] [--deals N] [--table MiB]\n");
      return 2;
    }
  }
  zelk::resetRuleSwitches();
  FastEngine engine(tableMiB << 20);
  engine.setProgress(false);
  int64_t signature = 0;
  int failures = 0;

  struct Published {
    const char* player2;
    const char* player1;
    char winner;
  } published[] = {{"KK5543", "225543", '2'},
                   {"2KK0077554", "AA8", '1'},
                   {"2AK096554", "XKJ08854", '2'},
                   {"YAQQJJ0999844", "X22AA0886633", '2'}};
  std::printf("Published endgames (player2 leads), fast engine, table %zu MiB\n", tableMiB);
  std::printf("%-16s %-16s %-8s %-8s %10s %12s\n", "player2", "player1", "winner", "expected",
              "seconds", "positions");
  for (const Published& p : published) {
    Run r = solveOne(engine, p.player1, p.player2);
    signature += r.positions;
    if (r.winner != p.winner) ++failures;
    std::printf("%-16s %-16s player%c  player%c  %10.4f %12lld\n", p.player2, p.player1, r.winner,
                p.winner, r.seconds, static_cast<long long>(r.positions));
  }

  for (int size : {17, 20}) {
    if (quick && size == 20) break;
    std::mt19937 rng(1000 + static_cast<unsigned>(size));
    std::vector<double> times;
    std::printf("\nRandom deals, %d cards a side (seed %d)\n", size, 1000 + size);
    for (int d = 0; d < deals; ++d) {
      std::string pack;
      for (int r = 0; r < 13; ++r) pack.append(4, zelk::RANK_ORDER[r]);
      pack += "XY";
      std::shuffle(pack.begin(), pack.end(), rng);
      std::string p1 = pack.substr(0, static_cast<std::size_t>(size));
      std::string p2 = pack.substr(static_cast<std::size_t>(size), static_cast<std::size_t>(size));
      Run r = solveOne(engine, p1, p2);
      signature += r.positions;
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
  return failures ? 1 : 0;
}
