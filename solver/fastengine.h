// The fast engine: decides a position exactly as the exhaustive solver does,
// with the same legal plays, but searches each position once.
//
// Against the exhaustive solver it trades the kept strategy tree for a
// transposition table (fasttable.h) and plays from packed hands
// (fastmoves.h) without allocating. The search is a depth-first
// proof-number search: it works first on the play closest to a proof, so
// wins are found early and the proofs stay small (a play the opponent cannot
// answer, or that leaves him few answers, is close to a proof). Small
// positions (a dozen cards, or in a big endgame up to half its cards, 16 at
// most) it leaves to a plain depth-first search, whose steps cost half as
// much, and which looks up the positions of all of a position's plays before
// it searches any. A hand that is one legal play wins on the spot,
// and a play that lets the opponent play out at once loses on the spot,
// without a search.
//
// What makes it fast is what it does not search twice or at all:
// - positions are kept in canonical form (fast::canonicalize): a play to
//   beat is raised to just below the lowest possible reply, runs of empty
//   ranks shrink, and once no kind of consecutive ranks is left only the
//   order of the ranks counts, and the counts of neighbouring ranks one
//   side holds alone are sorted, so equivalent positions share one proof;
// - a play the opponent cannot answer is searched as the mover's next lead;
// - plays that can never be better than another one are left out: a higher
//   lone card or pair attached where a lower one would do, and of two
//   unanswerable whole-rank plays of one kind the higher, and of two lone
//   cards that leave the opponent the same replies the higher, among ranks
//   no play of consecutive ranks can reach (fast::freeRanks);
// - of plays that lead to one position, only the first is searched;
// - new positions start from proof numbers estimated from the plays each
//   hand needs, and among equally promising plays the one the opponent
//   cannot answer, then the longest, is worked on first.
// None of this changes a position's value. The order of work never decides
// which play the machine makes: bestMove tests the plays in
// canonical order and answers the first one proven to win, exactly the play
// the exhaustive solver keeps.
//
// One engine belongs to one thread (with setThreads(2) it starts a helper
// thread of its own for the longer searches). It keeps its table across calls while
// the rule switches stay the same, so the replay's questions after a solve
// are answered mostly from the table. The switches are the process-wide
// ones unless the engine was given rules of its own (setRules), which lets
// engines on several threads solve under different rules at once.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "solver/fastmoves.h"
#include "solver/fasttable.h"

namespace zelk {

class FastEngine {
 public:
  static constexpr std::size_t DEFAULT_TABLE_BYTES = std::size_t(512) << 20;

  // tableBytes: memory for the transposition table. Throws CMemoryException
  // when the system refuses it.
  explicit FastEngine(std::size_t tableBytes = DEFAULT_TABLE_BYTES);
  ~FastEngine();
  FastEngine(const FastEngine&) = delete;
  FastEngine& operator=(const FastEngine&) = delete;

  // Who wins the position, in the terms of a game-state node: '1' or '2';
  // RESULT_STOPPED when stopFlag ended the search; '3' with a diagnostic
  // line when the position is not one (a bad turn, a card outside the
  // notation, a play the type cannot describe).
  char solve(const char* u1, const char* u2, const char* lastPlay, int playType, char turn);

  struct Answer {
    char result = RESULT_OPEN;  // as solve()
    std::string cards;          // the mover's first winning play, as lastPlay is written
    int type = TYPE_PASS;       // its type code
    bool found = false;         // false when the mover loses (or on a stop)
  };
  // The first play in canonical order whose position the mover wins.
  Answer bestMove(const char* u1, const char* u2, const char* lastPlay, int playType, char turn);

  // Who wins a position given in packed form, for the analysis, which asks
  // this of many positions: 1 when the mover wins, 0 when he loses, -1 when
  // stopFlag ended the search. A play to beat as beatFromPlay makes it.
  int wins(fast::Hand me, fast::Hand opp, fast::Beat last);
  // The rules the next question is answered under: the engine's own
  // (setRules) or the process-wide switches.
  fast::Rules nextRules() const { return ownRules_ ? *ownRules_ : fast::currentRules(); }

  // Positions searched since the engine was made (or reset), by all its
  // threads, and proofs held.
  int64_t positionsSearched() const { return searched_ + helperSearched_; }
  int64_t positionsStored() const { return table_.stored(); }
  // The rules of the latest call: its own (setRules) or the switches then.
  fast::Rules rules() const { return rules_; }
  std::size_t tableBytes() const { return table_.bytes(); }

  // Writes the progress line once a second while searching (on by default).
  void setProgress(bool on) { progress_ = on; }
  bool progress() const { return progress_; }
  // Called instead, about every thousand positions searched, while set: a
  // caller that searches around the engine writes one line for both.
  void setWatcher(std::function<void()> watcher) { watcher_ = std::move(watcher); }
  // Forgets every proof and zeroes the counters.
  void reset();
  // The rules of the following calls instead of the process-wide switches;
  // std::nullopt goes back to reading the switches at each call.
  void setRules(std::optional<fast::Rules> rules) { ownRules_ = rules; }
  // Threads for a long search: 1 or 2. With two, once a search has gone
  // past Tuning::aloneBudget positions alone, a helper thread searches the
  // same position over the same table,
  // keeping off the line the engine's own thread is working on, and
  // whichever proves the position first ends both. The verdicts and the
  // plays are the same; the positions searched vary from run to run.
  void setThreads(int threads) { threads_ = threads < 2 ? 1 : 2; }
  int threads() const { return threads_; }

  // How the work is split between the two searches (see search()): the
  // positions the plain depth-first search may spend on its first try at
  // the whole endgame, and the most cards, both hands together, of a
  // position the proof-number search leaves to it: leafCards, or in a
  // bigger search up to half the cards it starts from, less one, but never
  // more than leafCardsMost. Verdicts and plays never depend on them; tests
  // change them to check each search on its own.
  struct Tuning {
    int64_t quickBudget = 5000;
    int leafCards = 12;
    // With two threads: the positions a search takes alone before the
    // helper joins it (0: at once).
    int64_t aloneBudget = 50000;
    int leafCardsMost = 16;
  };
  void setTuning(Tuning tuning) { tuning_ = tuning; }

 private:
  struct Stop {};
  struct OutOfBudget {};
  struct Finished {};  // the other thread proved the position
  // Depths at which the engine's own thread shows the helper where it is.
  static constexpr int PATH_DEPTH = 16;

  // A helper of `owner`, searching over its table.
  explicit FastEngine(FastEngine& owner);
  bool searchTogether(fast::Hand me, fast::Hand opp, fast::Beat last, fast::Rules rules);
  void help(fast::Hand me, fast::Hand opp, fast::Beat last, fast::Rules rules);
  // The helper's choice at a position where the best play's position is the
  // one the engine's thread is in: true when that play's numbers changed
  // meanwhile (look again); else `best` and `childThdn` may name another
  // play close behind, to work on instead.
  bool steer(std::size_t base, int count, int depth, uint32_t pn, uint32_t thpn, int& best,
             uint32_t& childThdn);

  bool prepare(const char* u1, const char* u2, const char* lastPlay, int playType, char turn,
               fast::Hand& me, fast::Hand& opp, fast::Beat& beat, char& result);
  // Takes the rules in force and the kind of table entries the hands need.
  void useRulesFor(fast::Hand a, fast::Hand b);
  // True when the mover wins; proves the position to the end. quickTry:
  // the depth-first search's try on a small budget comes first (it always
  // does for a position small enough for that search).
  bool search(fast::Hand me, fast::Hand opp, fast::Beat last, bool quickTry = true);
  // Depth-first in canonical order, cut off at the first win; throws
  // OutOfBudget past budgetEnd_ positions searched. Proves the whole
  // endgame on a small budget, or a small position for mid.
  // `rules`: the switches in force, less the kinds the position can no
  // longer make (see fast::canonicalize).
  // `probed`: the position's key, when the caller has just found no proof
  // of it in the table.
  bool alphaBeta(fast::Hand me, fast::Hand opp, fast::Beat last, fast::Rules rules,
                 const fast::FastTable::Key* probed = nullptr);
  // Works on the position until its proof number reaches thpn or its
  // disproof number thdn (or it is proven); returns its numbers.
  fast::ProofNumbers mid(fast::Hand me, fast::Hand opp, fast::Beat last, fast::Rules rules,
                         uint32_t thpn, uint32_t thdn);
  // The steps of mid. Room in the arena for a position's plays at `base`.
  void reservePlays(std::size_t base);
  // Generates the position's plays at `base`, marks them, keys their
  // positions and gives each its numbers; returns their count.
  int expand(fast::Hand me, fast::Hand opp, fast::Beat last, fast::Rules rules, std::size_t base);
  void markPlays(fast::Hand me, fast::Hand opp, fast::Rules rules, std::size_t base, int count);
  void startNumbers(fast::Hand opp, fast::Rules rules, std::size_t base, int count);
  fast::ProofNumbers workOnPlays(std::size_t base, int count, int depth, fast::Rules rules,
                                 uint32_t thpn, uint32_t thdn);
  void poll();
  int64_t countSoFar() const;
  // The plays a whole hand forms, from a small cache: hands recur against
  // many opponents, and working the forms out is an enumeration.
  const fast::WholeHand& formsOf(fast::Hand hand, fast::Rules rules);
  std::size_t formsLineOf(fast::Hand hand, fast::Rules rules) const;
  // Asks for a hand's line of the cache before formsOf reads it.
  void prefetchForms(fast::Hand hand, fast::Rules rules) const;

  std::unique_ptr<fast::FastTable> ownTable_;  // none in a helper
  fast::FastTable& table_;
  fast::Rules rules_;
  std::optional<fast::Rules> ownRules_;
  std::vector<fast::Move> arena_;           // the plays of every position on the search path
  std::vector<fast::ProofNumbers> kids_;    // beside each play: the numbers of its position
  std::vector<fast::FastTable::Key> keys_;  // and its table key
  // Beside each play, the position the depth-first search goes to after
  // it. Left as the system hands it over (not zeroed): most of it is never
  // touched.
  struct Next {
    fast::FastTable::Key key;  // its hands too
    fast::Beat beat;
    fast::Rules rules;
    bool lead;     // the mover's own next lead: the opponent could only pass
    bool settled;  // the table holds its value
  };
  std::unique_ptr<Next[]> nexts_;
  // A line holds the forms of one hand under one set of rules, so it stays
  // true across solves and rule changes: the cache is never emptied.
  struct FormsLine {
    fast::Hand hand = 0;  // 0: empty line
    fast::Rules rules = 0;
    fast::WholeHand forms;
  };
  // Mapped, not allocated: a line is empty as the system hands the memory
  // over (all zero), and only the pages a search uses are ever touched.
  struct Unmap {
    void operator()(FormsLine* lines) const;
  };
  std::unique_ptr<FormsLine[], Unmap> forms_;
  std::size_t formsMask_;  // the lines in use, less one (see poll)
  std::size_t top_ = 0;
  int64_t searched_ = 0;
  // Searching with a helper.
  int threads_ = 1;
  std::unique_ptr<FastEngine> helper_;
  FastEngine* owner_ = nullptr;            // set in a helper
  std::atomic<bool> finished_{false};      // the owner's: one of the two proved the position
  std::atomic<bool>* finish_ = nullptr;    // while searching together: the owner's finished_
  std::atomic<int> helperWon_{-1};         // the owner's: what the helper proved (1 won, 0 lost)
  std::atomic<int64_t> shownSearched_{0};  // a helper's count, for the progress line
  int64_t helperSearched_ = 0;
  bool publish_ = false;  // the owner shows its path
  int depth_ = 0;
  // The hash of the position at each depth, read by the helper: on lines
  // of their own.
  alignas(64) std::array<std::atomic<uint64_t>, PATH_DEPTH> path_{};
  int64_t budgetEnd_ = 0;
  int leafLimit_ = 12;              // the current search's (see Tuning)
  int64_t aloneUntil_ = INT64_MAX;  // see Tuning::aloneBudget
  Tuning tuning_;
  bool progress_ = true;
  std::function<void()> watcher_;
  // Progress clock.
  uint32_t startMs_ = 0;
  int32_t lastSecond_ = 0;
  int64_t lastCount_ = 0;
};

}  // namespace zelk
