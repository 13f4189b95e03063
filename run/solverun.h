// The solving run: from two hands to the verdict, then the replay on the console.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "rules/types.h"
#include "solver/engine.h"
#include "solver/gamenode.h"

namespace zelk {

// What the run does once the position is known: decide it and replay the
// win (the original run), judge every play of the mover with its moves to
// win, or let the user practise the winning side against the machine's
// longest defence. The last two need the fast engine.
enum class SolveMode { Solve, Analyse, Practice };

// One solve, as a front end describes it; the run reads nothing else.
struct SolveRequest {
  // The hands as the start accepted them (acceptHands): validated, upper
  // case, without blanks, sorted from the highest card down. player1 plays
  // second, player2 leads.
  std::u16string player1;
  std::u16string player2;
  // The rest of the position (makePosition checked it): who moves, and the
  // play he must beat as the generator writes it (empty: he leads). The
  // opening position, player2 leading, is the original run's.
  char mover = RESULT_U2;
  std::string toBeat;
  int toBeatType = TYPE_PASS;
  SolveMode mode = SolveMode::Solve;
  EngineSettings engine;  // which engine, its rules, table and threads
  bool replay = true;     // the replay follows the report (the command line may end there)
  bool u1First = false;   // the listing mode in which player1 leads (the debug switch F_U1F)
  // Where the run's console text goes and its lines come from; installed as
  // the output hub's console when the solve starts. Null: whatever console
  // the hub has.
  std::shared_ptr<Console> console;
  // Makes the engine; null for makeEngine. Tests put failing engines here.
  std::function<std::unique_ptr<Engine>(const EngineSettings&)> makeEngine;
};

int zelkmain(GameNode* root, const SolveRequest& request);

// True for the opening position: player2 leads, nothing to beat.
bool isOpening(const SolveRequest& request);

// One play of the position judged by the analysis (--analyse).
struct AnalysedPlay {
  std::string cards;  // as lastPlay is written; empty for the pass
  int type = TYPE_PASS;
  char winner = 0;  // who wins after it: '1' or '2'
  int movesToWin = 0;
};

// What the last solving run reported, for front ends that show it their own way.
struct RunReport {
  bool completed = false;     // the statistics line was reached
  bool failed = false;        // memory exhausted, an exception, or no winner
  std::string failure;        // what failed, for the front end's message
  char winner = 0;            // '1' or '2'
  std::string firstPlay;      // the mover's first winning play when the mover wins
  int firstPlayType = -1;     // its type, -1 when there is none
  int64_t positions = 0;      // positions searched
  int64_t keptPositions = 0;  // positions kept: the solved tree, or the fast engine's table
  int64_t openingPlays = 0;   // the mover's legal plays (player2's opening plays)
  const char* engine = "";    // "exhaustive" or "fast"
  uint32_t elapsedMs = 0;     // from the start of the search to the verdict and first play
  // The analysis: every play of the mover in canonical order, and the
  // position's moves to win.
  std::vector<AnalysedPlay> plays;
  int movesToWin = 0;
};
RunReport lastRunReport();
// Memory ran out for the solve: the stop, the log lines and the run report.
void memoryFailure(const char* what);

// The report of a decision made without a tree (the batch): the same fields
// the solving run fills in.
RunReport reportOf(const Engine& engine, const Verdict& verdict, int64_t openingPlays,
                   uint32_t elapsedMs);

// Reads one line (without its line end) from the console; 0 on success, 1 on failure.
int ReadConsoleLine(std::u16string& line);

}  // namespace zelk
