// Benchmark of the analysis (moves to win) against the plain fast solve:
// the published endgames, then random deals from one pack (the fast engine
// benchmark's seeds: 1000 plus the cards a side); one thread, every rule
// switch on.
//
//   analysisbench [--deals N] [--size CARDS]... [--table MiB]
//
// For each endgame, each question from empty tables: the fast solve (the
// verdict), the plain fast solve as `zelk --engine fast` times it (the
// verdict and the first winning play in canonical order), then who wins
// after each play of the leader by the fast engine alone (the floor of the
// analysis: it must know that much), the position's moves to win (judge), the machine's reply, the
// winning plays alone (the hint in practice) and the whole analysis (every
// play of the leader judged); then a practice game from the deal, the user
// winning by the fewest plays and the machine holding out longest, with the
// time of each machine reply (the tables kept through the game, as practice
// keeps them). Then the medians and the worst times of each size, and the
// median of the analysis's time over the solve's.
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
using zelk::Analysis;

std::string asc(std::string s) {
  std::sort(s.begin(), s.end(), [](char a, char b) { return zelk::rankOf(a) < zelk::rankOf(b); });
  return s;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Times {
  std::vector<double> solve, first, verdicts, judge, reply, winning, analyse, ratio, floor,
      practice;
};

// The position after a play of its mover.
zelk::Position after(zelk::Position p, const Analysis::JudgedPlay& play) {
  std::string& hand = p.turn == zelk::RESULT_U1 ? p.u1Cards : p.u2Cards;
  for (char c : play.cards) hand.erase(hand.find(c), 1);
  p.lastPlay = play.cards;
  p.playType = play.type;
  p.turn = p.turn == zelk::RESULT_U1 ? zelk::RESULT_U2 : zelk::RESULT_U1;
  return p;
}

// A practice game from p; returns the slowest machine reply, and false when
// a reply contradicts the position's moves to win.
bool practiceGame(zelk::FastEngine& engine, Analysis& analysis, zelk::Position p, Times& t,
                  double& slowest) {
  engine.reset();
  analysis.reset();
  const Analysis::Outcome start = analysis.judge(p);
  int userPlays = 0;
  slowest = 0;
  while (!p.u1Cards.empty() && !p.u2Cards.empty()) {
    const bool machine = p.turn != start.winner;
    const auto t0 = Clock::now();
    const Analysis::JudgedPlay play = analysis.reply(p);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (play.after.winner != start.winner) return false;
    if (machine) {
      t.practice.push_back(s);
      slowest = std::max(slowest, s);
    } else if (!play.cards.empty()) {
      ++userPlays;
    }
    p = after(p, play);
  }
  return userPlays == start.movesToWin;
}

// One endgame, every question from empty tables; false when they disagree.
bool runOne(zelk::FastEngine& engine, Analysis& analysis, const std::string& player1,
            const std::string& player2, Times& t) {
  zelk::Position p{asc(player1), asc(player2), "", zelk::TYPE_PASS, zelk::RESULT_U2};
  auto timed = [&](auto&& question) {
    engine.reset();
    analysis.reset();
    const auto t0 = Clock::now();
    question();
    return std::chrono::duration<double>(Clock::now() - t0).count();
  };
  char w = 0;
  Analysis::Outcome judged, all, winning;
  Analysis::JudgedPlay reply;
  std::vector<Analysis::JudgedPlay> plays, wins;
  t.solve.push_back(timed(
      [&] { w = engine.solve(p.u1Cards.c_str(), p.u2Cards.c_str(), "", 0, zelk::RESULT_U2); }));
  t.first.push_back(timed([&] {
    engine.solve(p.u1Cards.c_str(), p.u2Cards.c_str(), "", 0, zelk::RESULT_U2);
    engine.bestMove(p.u1Cards.c_str(), p.u2Cards.c_str(), "", 0, zelk::RESULT_U2);
  }));
  t.verdicts.push_back(timed([&] {
    engine.solve(p.u1Cards.c_str(), p.u2Cards.c_str(), "", 0, zelk::RESULT_U2);
    engine.bestMove(p.u1Cards.c_str(), p.u2Cards.c_str(), "", 0, zelk::RESULT_U2);
    zelk::fast::Hand me = 0, opp = 0;
    zelk::fast::handFromCards(p.u2Cards, me);
    zelk::fast::handFromCards(p.u1Cards, opp);
    std::vector<zelk::fast::Move> moves(zelk::fast::MAX_MOVES);
    const int n = zelk::fast::generateMoves(me, zelk::fast::Beat{}, engine.rules(), moves.data());
    for (int i = 0; i < n; ++i)
      if (moves[i].cards != me) engine.wins(opp, me - moves[i].cards, moves[i].beat());
  }));
  t.judge.push_back(timed([&] { judged = analysis.judge(p); }));
  t.reply.push_back(timed([&] { reply = analysis.reply(p); }));
  t.winning.push_back(timed([&] { winning = analysis.analyse(p, wins, true); }));
  t.analyse.push_back(timed([&] { all = analysis.analyse(p, plays); }));
  t.ratio.push_back(t.analyse.back() / std::max(t.first.back(), 1e-6));
  t.floor.push_back(t.verdicts.back() / std::max(t.first.back(), 1e-6));
  double slowest = 0;
  const bool practised = practiceGame(engine, analysis, p, t, slowest);
  const bool agree = practised && judged.winner == w && all.winner == w && winning.winner == w &&
                     all.movesToWin == judged.movesToWin &&
                     winning.movesToWin == judged.movesToWin && reply.after.winner == w &&
                     reply.after.movesToWin == judged.movesToWin;
  std::printf(
      "  %-22s %-22s player%c %3d %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %4zu %9.4f %7.1f%s\n",
      p.u2Cards.c_str(), p.u1Cards.c_str(), w, judged.movesToWin, t.solve.back(), t.first.back(),
      t.verdicts.back(), t.judge.back(), t.reply.back(), t.winning.back(), t.analyse.back(),
      plays.size(), slowest, t.ratio.back(), agree ? "" : "  DISAGREE");
  std::fflush(stdout);
  return agree;
}

void header() {
  std::printf("  %-22s %-22s %-7s %3s %9s %9s %9s %9s %9s %9s %9s %4s %9s %7s\n", "player2",
              "player1", "winner", "mtw", "solve s", "first s", "verdict s", "judge s", "reply s",
              "winning s", "analyse s", "plays", "game s", "ratio");
}

void summary(const Times& t) {
  auto worst = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
  std::printf("  %-56s %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f\n", "median", median(t.solve),
              median(t.first), median(t.verdicts), median(t.judge), median(t.reply),
              median(t.winning), median(t.analyse));
  std::printf("  %-56s %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f %9.4f\n", "worst", worst(t.solve),
              worst(t.first), worst(t.verdicts), worst(t.judge), worst(t.reply), worst(t.winning),
              worst(t.analyse));
  std::printf("  analysis / (solve and first play): median %.1f, worst %.1f\n", median(t.ratio),
              worst(t.ratio));
  std::printf("  every play's verdict alone / (solve and first play): median %.1f, worst %.1f\n",
              median(t.floor), worst(t.floor));
  std::printf("  machine replies in practice: %zu, median %.4f s, worst %.4f s\n",
              t.practice.size(), median(t.practice), worst(t.practice));
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
  Analysis analysis(engine, tableMiB << 20);
  analysis.setProgress(false);
  int failures = 0;

  const char* published[][2] = {{"225543", "KK5543"},
                                {"AA8", "2KK0077554"},
                                {"XKJ08854", "2AK096554"},
                                {"X22AA0886633", "YAQQJJ0999844"}};
  std::printf("Published endgames\n");
  header();
  Times fixed;
  for (const auto& g : published) failures += !runOne(engine, analysis, g[0], g[1], fixed);
  for (int size : sizes) {
    std::mt19937 rng(1000 + static_cast<unsigned>(size));
    std::printf("\nRandom deals, %d cards a side (seed %d)\n", size, 1000 + size);
    header();
    Times t;
    for (int d = 0; d < deals; ++d) {
      std::string pack;
      for (int r = 0; r < 13; ++r) pack.append(4, zelk::RANK_ORDER[r]);
      pack += "XY";
      std::shuffle(pack.begin(), pack.end(), rng);
      failures +=
          !runOne(engine, analysis, pack.substr(0, static_cast<std::size_t>(size)),
                  pack.substr(static_cast<std::size_t>(size), static_cast<std::size_t>(size)), t);
    }
    summary(t);
  }
  if (failures) std::printf("ANSWERS DIFFER: %d\n", failures);
  return failures ? 1 : 0;
}
