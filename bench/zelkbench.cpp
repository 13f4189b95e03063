// Benchmark of the exhaustive solver: a fixed list of endgames of growing
// size, solved on one thread with every rule switch on. The total of the
// positions created is the signature: a change that alters which positions
// are searched changes it; a pure speed-up leaves it as it is.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "rules/cards.h"
#include "rules/switches.h"
#include "run/cqueue.h"
#include "run/output.h"
#include "solver/gamenode.h"
#include "solver/nodepool.h"
#include "solver/solver.h"

namespace {

struct Endgame {
  const char* player1;  // plays second
  const char* player2;  // leads
};

// Ordered by the work they take.
constexpr Endgame ENDGAMES[] = {
    {"AA9", "2QQJJ77553"},
    {"KK5543", "225543"},
    {"AA8", "2KK0077554"},
    {"22AKQJ", "XAKK09876"},
    {"Y2AKQ0985", "X2AJ09876"},
    {"2AKQJ09876", "22AKQJ0987"},
};

long peakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

std::string ascending(const char* typed) {
  std::string s(typed);
  zelk::sortCardsAsc(s);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zelk;
  bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  std::vector<Endgame> list(std::begin(ENDGAMES), std::end(ENDGAMES));
  if (argc == 3) list = {{argv[1], argv[2]}};
  std::printf("%-12s %-12s %6s %14s %12s %9s %14s %10s\n", "player1", "player2", "winner",
              "positions", "tree", "seconds", "positions/s", "peak MiB");
  int64_t signature = 0;
  for (const Endgame& g : list) {
    if (quick && std::strlen(g.player1) + std::strlen(g.player2) > 16) break;
    nodeCount = 0;
    GameNode* root = newNode();
    std::string u1 = ascending(g.player1), u2 = ascending(g.player2);
    std::strcpy(root->u1Cards, u1.c_str());
    std::strcpy(root->u2Cards, u2.c_str());
    root->turn = '2';
    auto t0 = std::chrono::steady_clock::now();
    root->result = ZelkSolver(root, 0);
    auto t1 = std::chrono::steady_clock::now();
    double sec = std::chrono::duration<double>(t1 - t0).count();
    int64_t positions = nodeCount;
    int64_t tree = countNodes(root);
    char winner = root->result;
    deleteNode(root);
    while (mStrSeq.take()) {
    }
    signature += positions;
    std::printf("%-12s %-12s %6c %14lld %12lld %9.3f %14.0f %10.1f\n", g.player1, g.player2,
                winner, static_cast<long long>(positions),
                static_cast<long long>(tree), sec, sec > 0 ? positions / sec : 0.0,
                peakKiB() / 1024.0);
    std::fflush(stdout);
  }
  std::printf("Nodes searched: %lld\n", static_cast<long long>(signature));
  return 0;
}
