// Benchmark of the exhaustive solver: a fixed list of endgames of growing
// size, solved on one thread with every rule switch on. The total of the
// positions created is the signature: a change that alters which positions
// are searched changes it; a pure speed-up leaves it as it is.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "base/output.h"
#include "rules/cards.h"
#include "rules/switches.h"
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
    {"225543", "KK5543"},
    {"AA8", "2KK0077554"},
    {"Y2AKQ0985", "X2AJ09876"},
    {"2AAKKQQJJ0099", "X887766554433"},
    {"KKQQJJ0099", "AAKQJ08877"},
    {"2AKQJ09876", "22AKQJ0987"},
    {"99990JJQQKKAA22", "3334445556667788XY"},
    {"YX2AKQJ0987", "2AKQJ0987654"},
};

// CPU time of this thread: the figures stay honest on a busy machine.
double threadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

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
  std::printf("%-16s %-20s %6s %12s %10s %9s %13s %9s\n", "player1", "player2", "winner",
              "positions", "tree", "cpu s", "positions/s", "peak MiB");
  int64_t totalPositions = 0;
  double totalSeconds = 0;
  int64_t signature = 0;
  for (const Endgame& g : list) {
    if (quick && std::strlen(g.player1) + std::strlen(g.player2) > 20) break;
    nodeCount = 0;
    nodepool::recycleIfIdle();
    GameNode* root = newNode();
    std::string u1 = ascending(g.player1), u2 = ascending(g.player2);
    std::strcpy(root->u1Cards, u1.c_str());
    std::strcpy(root->u2Cards, u2.c_str());
    root->turn = '2';
    double t0 = threadSeconds();
    root->result = ZelkSolver(root, 0);
    double sec = threadSeconds() - t0;
    int64_t positions = nodeCount;
    int64_t tree = countNodes(root);
    char winner = root->result;
    deleteNode(root);
    while (mStrSeq.take()) {
    }
    signature += positions;
    totalPositions += positions;
    totalSeconds += sec;
    std::printf("%-16s %-20s %6c %12lld %10lld %9.3f %13.0f %9.1f\n", g.player1, g.player2, winner,
                static_cast<long long>(positions), static_cast<long long>(tree), sec,
                sec > 0 ? positions / sec : 0.0, peakKiB() / 1024.0);
    std::fflush(stdout);
  }
  std::printf("Total: %.3f s, %.0f positions/s\n", totalSeconds,
              totalSeconds > 0 ? totalPositions / totalSeconds : 0.0);
  std::printf("Nodes searched: %lld\n", static_cast<long long>(signature));
  return 0;
}
