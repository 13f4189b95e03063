// The solving run: from two hands to the verdict, then the replay on the console.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "solver/gamenode.h"

namespace zelk {

// The hands as the start handler accepted them: validated, upper case,
// without blanks, sorted from the highest card down. player1 plays second,
// player2 leads. Read by the solving run while a solve runs.
extern std::u16string inputA;
extern std::u16string inputB;

int zelkmain(GameNode* root);

// Whether the replay follows the report (the command line may end the run
// after the statistics line).
extern std::atomic<bool> replayEnabled;

// Which engine decides the endgame; read when a solving run starts. The
// exhaustive solver keeps the strategy tree while it searches; the fast
// engine (solver/fastengine.h) proves positions with a transposition table
// and the replay asks it at each position instead.
enum class SolveEngine : int { Exhaustive = 0, Fast = 1 };
extern std::atomic<int> solveEngine;
// Memory for the fast engine's table in bytes; 0 for its default.
extern std::atomic<std::size_t> fastTableBytes;
// Threads for the fast engine's search: 1 or 2 (FastEngine::setThreads).
extern std::atomic<int> fastThreads;

// The exhaustive search as the solving run calls it: ZelkSolver. Tests put
// a failing search in its place to reach the run's failure paths; it is
// changed only while no solve runs.
using SearchFunction = char (*)(GameNode* root, int depth);
extern SearchFunction exhaustiveSearch;

// What the last solving run reported, for front ends that show it their own way.
struct RunReport {
  bool completed = false;      // the statistics line was reached
  bool failed = false;         // memory exhausted, an exception, or no winner
  std::string failure;         // memory exhausted: what was refused (the error's text)
  char winner = 0;             // '1' or '2'
  std::string firstPlay;       // the machine's first play when player2 wins
  int firstPlayType = -1;      // its type, -1 when there is none
  int64_t positions = 0;       // positions created by the search
  int64_t treePositions = 0;   // positions kept in the solved tree
  int64_t openingPlays = 0;    // player2's legal opening plays
  bool fast = false;           // decided by the fast engine
  int64_t tablePositions = 0;  // fast engine: positions held in its table
  uint32_t elapsedMs = 0;
};
RunReport lastRunReport();
// Memory ran out for the solve: the stop, the log lines and the run report.
void memoryFailure(const char* what);

// Reads one line (without its line end) from the console; 0 on success, 1 on failure.
int ReadConsoleLine(std::u16string& line);

}  // namespace zelk
