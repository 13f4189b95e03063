// Benchmark of the analysis (moves to win) against the plain fast solve, on
// random deals from one pack (the fast engine benchmark's seeds: 1000 plus
// the cards a side), one thread, every rule switch on.
//
//   analysisbench [--deals N] [--size CARDS]... [--table MiB]
//
// For each deal: the verdict and the time of the fast solve, of the
// position's moves to win (judge), of the machine's reply and of the whole
// analysis (every play of the leader judged), each from empty tables; then
// the medians and the worst times of each size.
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
#include "solver/analysis.h"
#include "solver/fastengine.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string asc(std::string s) {
  std::sort(s.begin(), s.end(), [](char a, char b) { return zelk::rankOf(a) < zelk::rankOf(b); });
  return s;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int deals = 15;
  std::size_t tableMiB = 256;
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--deals") && i + 1 < argc) {
      deals = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--size") && i + 1 < argc) {
      sizes.push_back(std::atoi(argv[++i]));
      if (sizes.back() < 1 || sizes.back() > 22) {
        std::fprintf(stderr, "analysisbench: --size takes 1 to 22 cards\n");
        return 2;
      }
    } else if (!std::strcmp(argv[i], "--table") && i + 1 < argc) {
      tableMiB = std::strtoul(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "usage: analysisbench [--deals N] [--size CARDS]... [--table MiB]\n");
      return 2;
    }
  }
  if (sizes.empty()) sizes = {12, 15, 17};
  zelk::resetRuleSwitches();
  zelk::FastEngine engine(tableMiB << 20);
  engine.setProgress(false);
  zelk::Analysis analysis(engine, tableMiB << 20);
  analysis.setProgress(false);
  for (int size : sizes) {
    std::mt19937 rng(1000 + static_cast<unsigned>(size));
    std::vector<double> solveT, judgeT, replyT, analyseT;
    std::printf("\nRandom deals, %d cards a side (seed %d)\n", size, 1000 + size);
    std::printf("  %-22s %-22s %-7s %4s %9s %9s %9s %9s %6s\n", "player2", "player1", "winner",
                "mtw", "solve s", "judge s", "reply s", "analyse s", "plays");
    for (int d = 0; d < deals; ++d) {
      std::string pack;
      for (int r = 0; r < 13; ++r) pack.append(4, zelk::RANK_ORDER[r]);
      pack += "XY";
      std::shuffle(pack.begin(), pack.end(), rng);
      zelk::Position p;
      p.u1Cards = asc(pack.substr(0, static_cast<std::size_t>(size)));
      p.u2Cards = asc(pack.substr(static_cast<std::size_t>(size), static_cast<std::size_t>(size)));
      engine.reset();
      auto t0 = Clock::now();
      char w = engine.solve(p.u1Cards.c_str(), p.u2Cards.c_str(), "", 0, '2');
      solveT.push_back(since(t0));
      engine.reset();
      analysis.reset();
      t0 = Clock::now();
      zelk::Analysis::Outcome o = analysis.judge(p);
      judgeT.push_back(since(t0));
      engine.reset();
      analysis.reset();
      t0 = Clock::now();
      zelk::Analysis::JudgedPlay r = analysis.reply(p);
      replyT.push_back(since(t0));
      engine.reset();
      analysis.reset();
      std::vector<zelk::Analysis::JudgedPlay> plays;
      t0 = Clock::now();
      zelk::Analysis::Outcome a = analysis.analyse(p, plays);
      analyseT.push_back(since(t0));
      bool agree = o.winner == w && a.winner == w && a.movesToWin == o.movesToWin &&
                   r.after.winner == w && r.after.movesToWin == o.movesToWin;
      std::printf("  %-22s %-22s player%c %4d %9.4f %9.4f %9.4f %9.4f %6zu%s\n", p.u2Cards.c_str(),
                  p.u1Cards.c_str(), w, o.movesToWin, solveT.back(), judgeT.back(), replyT.back(),
                  analyseT.back(), plays.size(), agree ? "" : "  DISAGREE");
      std::fflush(stdout);
    }
    std::printf("  median %9.4f %9.4f %9.4f %9.4f\n", median(solveT), median(judgeT),
                median(replyT), median(analyseT));
    std::printf("  worst  %9.4f %9.4f %9.4f %9.4f\n",
                *std::max_element(solveT.begin(), solveT.end()),
                *std::max_element(judgeT.begin(), judgeT.end()),
                *std::max_element(replyT.begin(), replyT.end()),
                *std::max_element(analyseT.begin(), analyseT.end()));
  }
  return 0;
}
