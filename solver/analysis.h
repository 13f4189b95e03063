// Moves to win: every play of a position judged by how soon it wins or how
// long it holds out, for the analysis and for practising endgames.
//
// The moves to win of a position are the card plays (passes do not count)
// that the side who wins still makes until its hand is empty, when the
// winner plays to make that number as small as possible and the loser to
// make it as large as possible; a play that empties the mover's hand counts
// 1. The moves to win of one play of the mover are those of the position it
// leads to, plus 1 when the mover wins and the play is not a pass.
//
// The search scores a position from the mover's side, WIN - k for a win in
// k plays of his own and k - WIN for a loss in k plays of the opponent's,
// so that the mover always takes the highest score and a play's score is
// the negated score of the position after it, less one for a winning card
// play: a plain alpha-beta search, with a transposition table of bounds of
// its own. The question it asks is always "can the winner be done within d
// plays", for d from the least possible upwards (zero-window tests,
// MTD(f)), because that question is small: a hand needs at least as many
// plays as the fewest legal plays it splits into (worked out once per hand
// and kept), so every play that wastes one is cut at once, and the plays
// that waste none are tried first.
//
// The fast engine (fastengine.h) says who wins where the search needs to
// know where to start: the position asked about, and a play of a won
// position that two tests have not settled. After a play of a lost position
// the opponent wins, and after most plays of a won one too; a short win of
// his is found much sooner by the tests than the engine proves that he wins
// at all.
//
// It reuses only those reductions of the fast engine that keep the number
// of plays and not just the winner: the canonical forms (equivalent
// positions have the same game tree, play for play, with the same kinds and
// sizes), a play the opponent cannot answer taken as the mover's next lead
// (his forced pass does not count), a hand that is one play ending the game
// at once, and the dominance drops (the kept play does everything the
// dropped one does, line for line, with the same counts, and leaves the
// opponent no more answers). Not the fast engine's estimates or its order of
// work, which only ever decide where it looks first.
//
// The order of plays is the canonical one: a list of plays is in the order
// of generateMoves, and among plays of equal worth the first one counts, so
// the first winning play of the analysis is the engine's bestMove.
//
// An Analysis belongs to one thread. It answers under its engine's rules and
// keeps its table across calls while they stay the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "solver/fastengine.h"
#include "solver/fastmoves.h"
#include "solver/fasttable.h"
#include "solver/position.h"

namespace zelk {

class Analysis {
 public:
  static constexpr std::size_t DEFAULT_TABLE_BYTES = std::size_t(256) << 20;

  // engine: says who wins, under its rules (FastEngine::nextRules()).
  // tableBytes: memory for the table of bounds. Throws CMemoryException
  // when the system refuses it.
  explicit Analysis(FastEngine& engine, std::size_t tableBytes = DEFAULT_TABLE_BYTES);
  ~Analysis();
  Analysis(const Analysis&) = delete;
  Analysis& operator=(const Analysis&) = delete;

  struct Outcome {
    // RESULT_U1 or RESULT_U2; RESULT_STOPPED when stopFlag ended the work;
    // RESULT_OPEN (with a diagnostic line) for a position that is none.
    char winner = RESULT_OPEN;
    int movesToWin = 0;
  };
  struct JudgedPlay {
    std::string cards;  // as lastPlay is written; empty for the pass
    int type = TYPE_PASS;
    Outcome after;  // who wins after the play, and the play's moves to win
  };

  // Who wins the position and its moves to win.
  Outcome judge(const Position& position);
  // Every legal play of the mover, in canonical order (the pass last, where
  // there is a play to beat), each judged; returns the position's outcome.
  // With winningOnly, only the plays after which the mover still wins (none
  // when he loses), which is much quicker: a play that loses costs only the
  // proof that it does. After a stop the list holds the plays judged so far.
  Outcome analyse(const Position& position, std::vector<JudgedPlay>& plays,
                  bool winningOnly = false);
  // The machine's play: when the mover wins, the play with the fewest moves
  // to win; when he loses, the one with the most (the longest defence);
  // the first in canonical order among equals. after.winner tells a stop or
  // a position that is none as in Outcome.
  JudgedPlay reply(const Position& position);

  // Writes a progress line once a second while working (on by default).
  void setProgress(bool on) { progress_ = on; }
  // Positions searched since the analysis was made (or reset), the fast
  // engine's included.
  int64_t positionsSearched() const { return searched_ + engineSearched_; }
  // Forgets every bound and zeroes the counters.
  void reset();

 private:
  struct Stop {};
  // What is known of a hand by itself: the fewest plays it splits into, and
  // the plays it forms whole.
  struct HandFacts {
    int fewest = 0;
    fast::WholeHand forms;
  };
  struct HandLine {
    fast::Hand hand = 0;  // 0: empty line
    fast::Rules rules = 0;
    uint8_t fewest = 0;
    fast::WholeHand forms;
  };
  struct Unmap {
    void operator()(HandLine* lines) const;
  };
  // The position after a play, in canonical form, and how its score makes
  // the play's.
  struct Child {
    enum Kind : uint8_t {
      WON,    // the play empties the mover's hand
      LOST,   // the opponent plays out at once on it
      PASS,   // the opponent leads
      LEAD,   // the opponent can only pass: the mover leads again
      REPLY,  // the opponent answers the play
    };
    Kind kind = PASS;
    uint32_t order = 0;  // the search tries the highest first
    fast::Rules rules = 0;
    fast::Beat beat;
    fast::Hand mover = 0, other = 0;
    fast::FastTable::Key key{};  // not for WON and LOST
  };
  // The position in packed form, mover first, as the question gives it.
  struct Root {
    fast::Hand me = 0, opp = 0;
    fast::Beat last;
    char mover = RESULT_U2;
  };

  // Checks the position and readies the rules and the table; false with
  // `outcome` telling why.
  bool begin(const Position& position, Root& root, Outcome& outcome);
  Outcome outcomeOf(int score, char mover) const;
  // The exact score of a position in canonical form. Without `ask`, `wins`
  // says whether the mover wins; with it, it is a guess where to start, and
  // `ask` tells whether he wins when a few tests there have not settled it.
  // `enough` 1 (-1): as soon as the mover is known to win (lose), a score
  // of that sign, not necessarily the exact one.
  int exact(fast::Hand me, fast::Hand opp, fast::Beat last, fast::Rules rules, bool wins,
            const std::function<bool()>& ask, int enough = 0);
  // The root's exact score; `wins`: whether its mover wins.
  int exactRoot(const Root& root, bool wins);
  // The exact score of one play of the root; `rootLost`: the root is lost
  // for its mover, so every play is. With winningOnly a play after which
  // the mover loses gets a negative score that is a bound only.
  int exactPlay(const Root& root, const fast::Move& m, bool rootLost, bool winningOnly);
  // Fail-soft alpha-beta on a position in canonical form: the score when it
  // lies between alpha and beta, else a bound on the far side of the window.
  int search(fast::Hand me, fast::Hand opp, fast::Beat last, fast::Rules rules, int alpha,
             int beta);
  // The positions after the `count` plays on the arena from `base`, on
  // kids_ from `base`; returns how many: a play the dominance drops leaves
  // none.
  int children(fast::Hand me, fast::Hand opp, fast::Rules rules, const fast::WholeHand& oppForms,
               std::size_t base, int count);
  // Which play led to the position `c`, for the next visit to the position
  // before: a few bits of its key, never 0 (0 for WON and LOST).
  static uint32_t fingerprint(const Child& c);
  // The position after a play of the root.
  Child rootChild(const Root& root, const fast::Move& m) const;
  // The score of the play that leads to `c`, within the window as search().
  int score(const Child& c, int alpha, int beta);
  HandFacts facts(fast::Hand hand, fast::Rules rules);
  int fewestPlays(fast::Hand hand, fast::Rules rules);
  // FastEngine::wins; a stop throws Stop.
  bool engineWins(fast::Hand me, fast::Hand opp, fast::Beat last);
  // Room for the plays of one more position on the arena.
  void reserve();
  // The stop test, and the progress line once a second.
  void poll();
  void progressLine();

  FastEngine& engine_;
  fast::FastTable table_;
  fast::Rules rules_;
  std::unique_ptr<HandLine[], Unmap> hands_;
  std::vector<fast::Move> arena_;  // the plays of every position on the search path
  std::vector<Child> kids_;        // beside each play: the position after it
  std::size_t top_ = 0;
  int64_t searched_ = 0;
  int64_t engineSearched_ = 0;
  int64_t engineAt_ = -1;  // the engine's count when the running question began
  bool progress_ = true;
  // Progress.
  int judged_ = 0, plays_ = 0;  // plays of the root judged so far, of how many
  uint32_t startMs_ = 0;
  int32_t lastSecond_ = 0;
  int64_t lastCount_ = 0;
};

}  // namespace zelk
