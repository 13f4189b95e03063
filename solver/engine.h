// The two engines behind one interface.
//
// The solving run, the replay and the batch ask their questions here and
// never learn which engine answers. The exhaustive solver keeps the winner's
// strategy as a tree while it searches; the fast engine keeps proofs in a
// transposition table and grows the same tree on demand, one position at a
// time, as the replay reaches it (fastreplay.h). Either way the replay reads
// the tree the exhaustive solver would have kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "solver/fastmoves.h"
#include "solver/gamenode.h"

namespace zelk {

class Analysis;

enum class EngineKind { Exhaustive, Fast };

// Everything that makes one engine: the kind, the rules it plays by, and
// the fast engine's memory and threads.
struct EngineSettings {
  EngineKind kind = EngineKind::Exhaustive;
  fast::Rules rules = fast::R_ALL;
  std::size_t tableBytes = 0;  // the fast engine's table; 0 for its default
  int threads = 1;             // the fast engine's threads: 1 or 2
  bool progress = true;        // the progress line while a search runs
  // The exhaustive solver's progress line counts through player2's opening
  // plays, also where player1 leads in the listing mode; for a position
  // from the middle of a game, through the root mover's own plays.
  bool moverPlaysInProgress = false;
};

// A position as the engines are asked about it; cards as card strings in any order.
struct Position {
  std::string u1Cards, u2Cards;  // player1's and player2's hands
  std::string lastPlay;          // the play to beat; empty when the mover leads
  int playType = TYPE_PASS;      // its type code
  char turn = RESULT_U2;         // who moves: '1' or '2'
};

// Who wins a position, and the mover's first winning play in canonical order.
struct Verdict {
  char result = RESULT_OPEN;  // '1' or '2'; RESULT_STOPPED after a stop; '3' for a bad position
  bool found = false;         // the mover wins with `play` (false when it loses)
  std::string play;           // card string; empty for a pass
  int type = TYPE_PASS;
};

class Engine {
 public:
  virtual ~Engine() = default;

  // "exhaustive" or "fast", as the JSON answers name the engine.
  virtual const char* name() const = 0;

  // Forgets what earlier solves proved; the following solves play by `rules`.
  virtual void reset(fast::Rules rules) = 0;

  // Decides root's position and keeps what the replay reads first:
  // root->result, and root's children as the exhaustive solver keeps them
  // (the first winning play in canonical order where the mover wins, every
  // legal play where it loses). Returns root->result. Node creation and
  // the fast engine's table may throw CMemoryException.
  virtual char solve(GameNode* root) = 0;

  // Before the replay reads node's children: where the engine keeps no
  // tree, hangs them under node as solve does under the root.
  virtual void grow(GameNode* node) = 0;

  // Decides a position without keeping a tree, on the caller's thread. The
  // exhaustive solver's counters are process-wide: only the fast engine may
  // be asked from several threads at once (each engine on its own thread).
  virtual Verdict decide(const Position& position) = 0;

  // Positions searched by the last solve or decision (at least 1), and the
  // positions kept: the strategy tree under root, or the table's proofs.
  virtual int64_t positionsSearched() const = 0;
  virtual int64_t positionsKept(const GameNode* root) const = 0;

  // Moves to win, every play judged, the machine's replies in practice
  // (analysis.h): the fast engine's, made at the first call and answering
  // under the engine's rules; null from the exhaustive engine.
  virtual Analysis* analysis() { return nullptr; }

  // The statistics line after the verdict, for the figures of the last solve.
  virtual std::u16string statisticsLine(const GameNode* root, int64_t openingPlays,
                                        uint32_t elapsedMs) const = 0;
};

std::unique_ptr<Engine> makeEngine(const EngineSettings& settings);

// The exhaustive engine with another search in place of ZelkSolver: tests
// reach the solving run's failure paths with searches that fail.
using SearchFunction = char (*)(GameNode* root, int depth);
std::unique_ptr<Engine> makeExhaustiveEngine(SearchFunction search);

// The number of legal opening plays of a hand leading under `rules` (N1).
int64_t openingPlayCount(const char* hand, fast::Rules rules);
// The number of legal plays of the mover of a position under `rules` (0
// when the position is none): N1 of a position from the middle of a game.
int64_t moverPlayCount(const Position& position, fast::Rules rules);

}  // namespace zelk
