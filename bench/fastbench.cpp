// Benchmark of the fast engine as a user waits for it. For each endgame it
// measures three things:
//   verdict   the search that decides who wins (FastEngine::solve),
//   first     the step after it that works out the machine's first winning
//             play in canonical order (bestMove on the same engine, as the
//             solving run and --batch do),
//   process   a fresh `zelk --json --engine fast` process, wall clock from
//             its start to its exit: start-up, the engine, both steps and
//             the answer, as a user waits for it.
// The endgames: the solver benchmark's list and the published endgames
// (these also with the exhaustive solver, stopped after a time limit, and
// each process run five times), then random deals of 17 and 20 cards a side
// (fixed seeds) with the fast engine alone: a third to a half of them are
// deals the leader loses, the slowest kind, where every lead has to be
// refuted. Single thread, unless --threads 2 gives the random deals two
// (the processes get --threads 2 too).
//
//   fastbench [--quick] [--deals N] [--size CARDS] [--table MiB] [--limit SECONDS]
//             [--threads N] [--zelk PATH] [--no-process]
//
// --size runs only random deals of that many cards a side (no fixed list).
//
// Prints each verdict with the three times and the positions searched, the
// median and worst of each time over the random deals, the peak memory
// (this process and the largest zelk process), and a signature: the
// positions the fast engine searched for the verdicts and the first plays
// on one thread over the whole run (the same build always gives the same
// number; searches on two threads do not, and are left out of it).
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

extern char** environ;

namespace {

using zelk::FastEngine;
using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::string asc(std::string s) {
  std::sort(s.begin(), s.end(), [](char a, char b) { return zelk::rankOf(a) < zelk::rankOf(b); });
  return s;
}

struct Run {
  char winner = '?';
  double seconds = 0;  // the verdict
  int64_t positions = 0;
  double firstSeconds = 0;  // the first-play step
  int64_t firstPositions = 0;
  std::string firstPlay;
};

// As the solving run does it: the verdict, then on the same engine the
// machine's first winning play.
Run solveOne(FastEngine& engine, const std::string& player1, const std::string& player2) {
  engine.reset();
  std::string u1 = asc(player1), u2 = asc(player2);
  auto t0 = Clock::now();
  char w = engine.solve(u1.c_str(), u2.c_str(), "", 0, '2');
  Run r;
  r.winner = w;
  r.seconds = since(t0);
  r.positions = engine.positionsSearched();
  auto t1 = Clock::now();
  FastEngine::Answer a = engine.bestMove(u1.c_str(), u2.c_str(), "", 0, '2');
  r.firstSeconds = since(t1);
  r.firstPositions = engine.positionsSearched() - r.positions;
  if (a.found) r.firstPlay = a.cards;
  return r;
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
    auto end = Clock::now() + std::chrono::duration<double>(limit);
    while (!done.load() && Clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!done.load()) zelk::setStop(1);
  });
  zelk::setStop(0);
  auto t0 = Clock::now();
  char w;
  try {
    w = zelk::ZelkSolver(root, 0);
    // After a stop the root's answer means nothing.
    if (zelk::stopRequested()) w = 's';
  } catch (const zelk::CMemoryException&) {
    w = 'm';
  }
  const double seconds = since(t0);
  done.store(true);
  watchdog.join();
  zelk::setStop(0);
  zelk::deleteNode(root);
  while (zelk::mStrSeq.take()) {
  }
  Run r;
  r.winner = w;
  r.seconds = seconds;
  r.positions = zelk::nodeCount;
  return r;
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

// One `zelk --json --engine fast` process: its wall clock, its peak memory,
// and what its answer says.
struct Process {
  bool ok = false;
  double seconds = 0;
  long peakMiB = 0;
  char winner = '?';
  std::string firstPlay;
  long reportedMs = -1;  // the answer's elapsed_ms
};

std::string jsonField(const std::string& json, const char* name) {
  const std::string key = std::string("\"") + name + "\":";
  std::size_t at = json.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  if (json[at] == '"') {
    std::size_t end = json.find('"', at + 1);
    return end == std::string::npos ? "" : json.substr(at + 1, end - at - 1);
  }
  std::size_t end = json.find_first_of(",}", at);
  return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

Process runZelk(const std::string& zelk, const std::string& player1, const std::string& player2,
                int threads) {
  Process p;
  int out[2];
  if (::pipe(out) != 0) return p;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::string threadArg = std::to_string(threads);
  std::vector<std::string> args = {zelk,    "--json",    "--engine", "fast",      "--player1",
                                   player1, "--player2", player2,    "--threads", threadArg};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  auto t0 = Clock::now();
  const int spawned = posix_spawn(&pid, zelk.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string json;
  if (spawned == 0) {
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
      json.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  if (spawned != 0) return p;
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) return p;
  p.seconds = since(t0);
  p.peakMiB = usage.ru_maxrss / 1024;
  p.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  const std::string w = jsonField(json, "winner");
  p.winner = w.empty() ? '?' : w[0];
  p.firstPlay = jsonField(json, "first_play");
  if (p.firstPlay == "null") p.firstPlay.clear();
  const std::string ms = jsonField(json, "elapsed_ms");
  if (!ms.empty()) p.reportedMs = std::atol(ms.c_str());
  return p;
}

// The zelk processes are started by a small process forked before this one
// grows: a process counts the memory of the one that started it in its peak
// until it runs a program of its own, and this one holds the table and the
// exhaustive solver's nodes.
class Spawner {
 public:
  bool start(const std::string& zelk) {
    int requests[2], replies[2];
    if (::pipe(requests) != 0 || ::pipe(replies) != 0) return false;
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      ::close(requests[1]);
      ::close(replies[0]);
      serve(zelk, fdopen(requests[0], "r"), fdopen(replies[1], "w"));
      _exit(0);
    }
    ::close(requests[0]);
    ::close(replies[1]);
    requests_ = fdopen(requests[1], "w");
    replies_ = fdopen(replies[0], "r");
    return requests_ && replies_;
  }
  Process run(const std::string& player1, const std::string& player2, int threads) {
    Process p;
    std::fprintf(requests_, "%d %s %s\n", threads, player1.c_str(), player2.c_str());
    std::fflush(requests_);
    char first[64];
    int ok = 0;
    if (std::fscanf(replies_, "%d %lf %ld %c %63s %ld", &ok, &p.seconds, &p.peakMiB, &p.winner,
                    first, &p.reportedMs) != 6)
      return p;
    p.ok = ok != 0;
    if (std::strcmp(first, "-") != 0) p.firstPlay = first;
    return p;
  }

 private:
  static void serve(const std::string& zelk, FILE* in, FILE* out) {
    char player1[64], player2[64];
    int threads = 1;
    while (in && out && std::fscanf(in, "%d %63s %63s", &threads, player1, player2) == 3) {
      const Process p = runZelk(zelk, player1, player2, threads);
      std::fprintf(out, "%d %.6f %ld %c %s %ld\n", p.ok ? 1 : 0, p.seconds, p.peakMiB, p.winner,
                   p.firstPlay.empty() ? "-" : p.firstPlay.c_str(), p.reportedMs);
      std::fflush(out);
    }
  }
  FILE* requests_ = nullptr;
  FILE* replies_ = nullptr;
};

std::string defaultZelk() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "zelk";
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/')) + "/../cli/zelk";
}

struct Stats {
  std::vector<double> verdict, first, process;
  void add(const Run& r, const Process* p) {
    verdict.push_back(r.seconds);
    first.push_back(r.firstSeconds);
    if (p) process.push_back(p->seconds);
  }
};

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double worst(const std::vector<double>& v) {
  return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

void printStats(const char* label, const Stats& s) {
  std::printf("  %-6s median verdict %.4f s  first play %.4f s", label, median(s.verdict),
              median(s.first));
  if (!s.process.empty()) std::printf("  process %.4f s", median(s.process));
  std::printf("\n  %-6s worst  verdict %.4f s  first play %.4f s", "", worst(s.verdict),
              worst(s.first));
  if (!s.process.empty()) std::printf("  process %.4f s", worst(s.process));
  std::printf("\n");
}

struct Deal {
  std::string player2;  // leads
  std::string player1;
};

}  // namespace

int main(int argc, char** argv) {
  int deals = 15;
  bool quick = false;
  double limit = 20;
  std::size_t tableMiB = FastEngine::DEFAULT_TABLE_BYTES >> 20;
  std::vector<int> sizes = {17, 20};
  bool fixedList = true;
  int threads = 1;
  bool processes = true;
  std::string zelk = defaultZelk();
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
    else if (!std::strcmp(argv[i], "--zelk") && i + 1 < argc)
      zelk = argv[++i];
    else if (!std::strcmp(argv[i], "--no-process"))
      processes = false;
    else if (!std::strcmp(argv[i], "--threads") && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
      if (threads < 1 || threads > 2) {
        std::fprintf(stderr, "fastbench: --threads takes 1 or 2\n");
        return 2;
      }
    } else {
      std::fprintf(stderr,
                   "usage: fastbench [--quick] [--deals N] [--size CARDS] [--table MiB] [--limit "
                   "SECONDS]\n"
                   "                 [--threads N] [--zelk PATH] [--no-process]\n"
                   "  --size CARDS  only random deals of this many cards a side\n"
                   "  --threads N   threads for the random deals: 1 (default) or 2\n"
                   "  --zelk PATH   the zelk program timed as a process (default: the build's)\n"
                   "  --no-process  time no zelk process\n");
      return 2;
    }
  }
  if (quick) {
    deals = std::min(deals, 3);
    limit = std::min(limit, 2.0);
  }
  if (processes && ::access(zelk.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "fastbench: no zelk program at %s (--zelk PATH, or --no-process)\n",
                 zelk.c_str());
    return 2;
  }
  Spawner spawner;
  if (processes && !spawner.start(zelk)) {
    std::perror("fastbench: cannot start the process spawner");
    return 2;
  }
  zelk::resetRuleSwitches();
  zelk::nodepool::setBudgetBytes(std::size_t(2) << 30);
  FastEngine engine(tableMiB << 20);
  engine.setProgress(false);
  int64_t signature = 0;
  int failures = 0;
  long processPeak = 0;

  // The answers of a process must be the engine's.
  auto check = [&](const Process& p, const Run& r) {
    processPeak = std::max(processPeak, p.peakMiB);
    if (!p.ok || p.winner != r.winner || p.firstPlay != r.firstPlay) {
      std::printf("  ^ the zelk process answered %s (first play \"%s\")%s\n", verdict(p.winner),
                  p.firstPlay.c_str(), p.ok ? "" : ", and failed");
      ++failures;
    }
  };

  struct Endgame {
    const char* player2;  // leads
    const char* player1;
    char winner;  // 0: not published
  } endgames[] = {{"2QQJJ77553", "AA9", 0},       {"225543", "KK5543", 0},
                  {"2KK0077554", "AA8", 0},       {"XAKK09876", "22AKQJ", 0},
                  {"X2AJ09876", "Y2AKQ0985", 0},  {"22AKQJ0987", "2AKQJ09876", 0},
                  {"KK5543", "225543", '2'},      {"2KK0077554", "AA8", '1'},
                  {"2AK096554", "XKJ08854", '2'}, {"YAQQJJ0999844", "X22AA0886633", '2'}};
  if (fixedList) {
    std::printf("Both engines (exhaustive stopped after %.0f s; fast table %zu MiB; one thread)\n",
                limit, tableMiB);
    std::printf("%-14s %-13s %-9s | %-8s %8s %11s | %-8s %8s %8s %8s | %7s %7s %8s\n", "player2",
                "player1", "published", "exhaust.", "seconds", "positions", "fast", "verdict",
                "first", "positns", "process", "worst", "reported");
  }
  for (const Endgame& g : endgames) {
    if (!fixedList) break;
    Run slow = exhaustive(g.player1, g.player2, limit);
    Run r = solveOne(engine, g.player1, g.player2);
    signature += r.positions + r.firstPositions;
    if (g.winner && r.winner != g.winner) ++failures;
    if ((slow.winner == '1' || slow.winner == '2') && slow.winner != r.winner) ++failures;
    std::printf("%-14s %-13s %-9s | %-8s %8.3f %11lld | %-8s %8.4f %8.4f %8lld |", g.player2,
                g.player1, g.winner ? verdict(g.winner) : "-", verdict(slow.winner), slow.seconds,
                static_cast<long long>(slow.positions), verdict(r.winner), r.seconds,
                r.firstSeconds, static_cast<long long>(r.positions + r.firstPositions));
    if (processes) {
      // The median of five processes, and the slowest.
      std::vector<double> times;
      Process p;
      for (int i = 0; i < 5; ++i) {
        p = spawner.run(g.player1, g.player2, 1);
        check(p, r);
        times.push_back(p.seconds);
      }
      std::printf(" %7.4f %7.4f %5ld ms\n", median(times), worst(times), p.reportedMs);
    } else {
      std::printf("\n");
    }
    std::fflush(stdout);
  }

  engine.setThreads(threads);
  for (int size : sizes) {
    if (quick && size == 20) break;
    std::mt19937 rng(1000 + static_cast<unsigned>(size));
    Stats stats;
    std::printf("\nRandom deals, %d cards a side (seed %d), %s thread%s\n", size, 1000 + size,
                threads > 1 ? "two" : "one", threads > 1 ? "s" : "");
    std::printf("  %-22s %-22s %-7s %-7s %9s %9s %10s %9s %6s %8s\n", "player2", "player1",
                "winner", "first", "verdict", "first", "positions", "process", "MiB", "reported");
    for (int d = 0; d < deals; ++d) {
      std::string pack;
      for (int r = 0; r < 13; ++r) pack.append(4, zelk::RANK_ORDER[r]);
      pack += "XY";
      std::shuffle(pack.begin(), pack.end(), rng);
      const std::size_t n = static_cast<std::size_t>(size);
      const Deal deal{asc(pack.substr(n, n)), asc(pack.substr(0, n))};
      Run r = solveOne(engine, deal.player1, deal.player2);
      if (threads == 1) signature += r.positions + r.firstPositions;
      Process p;
      if (processes) {
        p = spawner.run(deal.player1, deal.player2, threads);
        check(p, r);
      }
      stats.add(r, processes ? &p : nullptr);
      std::printf("  %-22s %-22s player%c %-7s %9.4f %9.4f %10lld", deal.player2.c_str(),
                  deal.player1.c_str(), r.winner, r.firstPlay.empty() ? "-" : r.firstPlay.c_str(),
                  r.seconds, r.firstSeconds,
                  static_cast<long long>(r.positions + r.firstPositions));
      if (processes) std::printf(" %9.4f %6ld %8ld", p.seconds, p.peakMiB, p.reportedMs);
      std::printf("\n");
      std::fflush(stdout);
    }
    printStats("", stats);
  }
  std::printf("\nPeak memory: %ld MiB (this process)", peakMiB());
  if (processes) std::printf(", %ld MiB (the largest zelk process)", processPeak);
  std::printf("\nPositions searched: %lld\n", static_cast<long long>(signature));
  if (failures) std::printf("VERDICTS DIFFER: %d\n", failures);
  return failures ? 1 : 0;
}
