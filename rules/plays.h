// The canonical enumeration of plays: written once, here.
//
// The kinds of play, the order in which they are tried, the order of the
// candidates within a kind, the cards of each candidate and the order in
// which they are written, and the sibling duplicates that are dropped: the
// move generator (ZelkCN), the exhaustive solver and the fast engine all walk
// forEachPlay, each with a visitor that builds its own representation of a
// play and does its own work for it. The order of plays is what the replay,
// the progress line, the strategy trees and the benchmarks' signatures rest
// on, so no consumer enumerates plays by itself.
//
// A hand is read as the ranks it holds at least once, twice, three and four
// times. In an ascending card string equal cards are adjacent, so taking
// "each first position" is taking each rank once in ascending order, and a
// run "stands in the hand" exactly when each of its ranks is held often
// enough; the kinds walk rank masks, one step per candidate.
//
// Duplicates: only the four with two singles and the airplanes with single
// wings take their attached cards from any positions of the hand, so only
// there can two picks hold the same cards (with three triples, the same
// twelve cards also split into other triples and wings: the four-triple
// airplane, or the run one rank lower). Of equal plays the first pick is
// kept, and the first picks of distinct cards come in ascending order of
// their ranks, so those kinds walk each distinct set of cards once, in that
// order. A consumer that must count every pick as a made node (the literal
// table makes and drops one per pick) asks for the count: Options::countPicks.
//
// The enumeration is inline: each consumer compiles to its own tight loop.
#pragma once

#include <bit>
#include <cstdint>

#include "rules/cards.h"
#include "rules/switches.h"
#include "rules/types.h"

namespace zelk::plays {

inline constexpr int RANK_A = 11;  // the highest rank a run may hold
inline constexpr int RANK_2 = 12;
inline constexpr int RANK_X = 13;
inline constexpr uint32_t ALL_RANKS = (1u << RANK_COUNT) - 1;
inline constexpr uint32_t BELOW_X = (1u << RANK_X) - 1;  // the ranks 3 to 2

// Cards as counts, four bits a rank (rank r at bits 4r to 4r + 3).
using CardCounts = uint64_t;
constexpr CardCounts rankUnit(int rank) { return CardCounts(1) << (4 * rank); }
// One card of each of `ranks` consecutive ranks from rank 0 (1 to 15 ranks).
constexpr CardCounts runUnits(int ranks) { return 0x1111111111111111ULL >> (64 - 4 * ranks); }

// Starts of `width` consecutive ranks from 3 to A that are all in `mask`.
constexpr uint32_t runStarts(uint32_t mask, int width) {
  mask &= (1u << RANK_2) - 1;
  uint32_t starts = mask;
  for (int i = 1; i < width; ++i) starts &= mask >> i;
  return starts & ((1u << (RANK_2 - width + 1)) - 1);
}

// What the enumeration reads of the mover's hand: one bit a rank.
struct HandRanks {
  uint32_t ge1 = 0, ge2 = 0, ge3 = 0, ge4 = 0;  // ranks held at least once, twice, ...
  int size = 0;                                 // cards in the hand
  // Where attached cards come from: the single of a three, the two cards
  // of a four, the pair of a three, the two pairs of a four. Every held
  // rank, unless a search leaves out plays it knows to be no better (the
  // fast engine's dominance); the canonical list never does.
  uint32_t kicker = 0, kickers = 0, pair = 0, pairs = 0;

  static constexpr HandRanks of(uint32_t ge1, uint32_t ge2, uint32_t ge3, uint32_t ge4, int size) {
    return HandRanks{ge1, ge2, ge3, ge4, size, ge1, ge1, ge2 & BELOW_X, ge2 & BELOW_X};
  }
  // From a count per rank (at least RANK_COUNT entries).
  template <class Count>
  static constexpr HandRanks counted(const Count* count) {
    uint32_t m[4] = {};
    int size = 0;
    for (int r = 0; r < RANK_COUNT; ++r) {
      size += count[r];
      for (int k = 0; k < 4; ++k)
        if (count[r] > k) m[k] |= 1u << r;
    }
    return of(m[0], m[1], m[2], m[3], size);
  }
};

// The play to beat; type TYPE_PASS when the mover leads.
struct ToBeat {
  int type = TYPE_PASS;
  int length = 0;  // its cards
  int rank = 0;    // its deciding rank (its first card)
};

// One candidate play. Its cards, as written: `runRanks` consecutive ranks
// from `rank` with `width` cards of each, then the `attached` ranks in
// ascending order with `attachWidth` cards of each.
struct Candidate {
  int type = TYPE_PASS;
  int rank = 0;    // the deciding rank: the lowest of the main part
  int length = 0;  // number of cards
  CardCounts cards = 0;
  int runRanks = 0, width = 0;
  int attached = 0, attachWidth = 0;
  int attach[3] = {};

  // The candidate that a play's type, deciding rank, size and cards make,
  // as the enumeration builds it; false when they make none.
  static bool describe(int type, int rank, int length, CardCounts cards, Candidate& out);

  // Writes the card characters (no terminator); returns the end.
  char* write(char* out) const {
    for (int g = 0; g < runRanks; ++g)
      for (int i = 0; i < width; ++i) *out++ = RANK_ORDER[rank + g];
    for (int a = 0; a < attached; ++a)
      for (int i = 0; i < attachWidth; ++i) *out++ = RANK_ORDER[attach[a]];
    return out;
  }
};

// How a consumer walks the enumeration; all compile-time.
struct Options {
  // Leave out, before visiting, the plays of the kind to beat that do not
  // beat it by rank and length. Otherwise they are visited too and the
  // visitor compares (the move generator makes a node for each first).
  // Singles are always tested by rank first.
  bool beatingOnly = true;
  // Visit only the bombs that beat the play to beat (none on the rocket);
  // otherwise every bomb, and the visitor compares.
  bool bombsThatBeat = false;
  // Report the picks of attached cards that repeat an earlier pick's cards:
  // visitor.dropped(n), reading visitor.count(rank).
  bool countPicks = false;
  // End a reply with the pass.
  bool pass = true;
  // Visit only the plays of forEachPlay's `length` cards.
  bool oneLength = false;
  // Keep every split of the same cards into triples and wings (the forms a
  // whole hand can take); the canonical list keeps the first only.
  bool allForms = false;
};

namespace detail {

// Visits the ranks of a mask from the lowest up; false when f stopped.
template <class F>
[[gnu::always_inline]] inline bool eachRank(uint32_t mask, F&& f) {
  for (; mask; mask &= mask - 1)
    if (!f(std::countr_zero(mask))) return false;
  return true;
}

constexpr int64_t choose2(int64_t m) { return m < 2 ? 0 : m * (m - 1) / 2; }
constexpr int64_t choose3(int64_t m) { return m < 3 ? 0 : m * (m - 1) * (m - 2) / 6; }

// Picks of two or three cards from m positions come in lexicographic order
// of the positions; these give a pick's index in that order.
constexpr int64_t pickIndex2(int64_t m, int64_t j, int64_t k) {
  return j * (m - 1) - j * (j - 1) / 2 + (k - j - 1);
}
constexpr int64_t pickIndex3(int64_t m, int64_t i, int64_t j, int64_t k) {
  int64_t before = 0;
  for (int64_t t = 0; t < i; ++t) before += choose2(m - 1 - t);
  return before + pickIndex2(m - i - 1, j - i - 1, k - i - 1);
}

constexpr Candidate mainPart(int type, int rank, int ranks, int width) {
  Candidate c;
  c.type = type;
  c.rank = rank;
  c.length = ranks * width;
  c.cards = static_cast<CardCounts>(width) * (runUnits(ranks) << (4 * rank));
  c.runRanks = ranks;
  c.width = width;
  return c;
}
constexpr Candidate with(Candidate c, int width, int a) {
  c.attached = 1;
  c.attachWidth = width;
  c.attach[0] = a;
  c.length += width;
  c.cards += static_cast<CardCounts>(width) * rankUnit(a);
  return c;
}
constexpr Candidate with(Candidate c, int width, int a, int b) {
  c = with(c, width, a);
  c.attached = 2;
  c.attach[1] = b;
  c.length += width;
  c.cards += static_cast<CardCounts>(width) * rankUnit(b);
  return c;
}
constexpr Candidate with(Candidate c, int width, int a, int b, int d) {
  c = with(c, width, a, b);
  c.attached = 3;
  c.attach[2] = d;
  c.length += width;
  c.cards += static_cast<CardCounts>(width) * rankUnit(d);
  return c;
}

template <Options O, class Visitor>
class Walk {
 public:
  Walk(const HandRanks& hand, const ToBeat& last, Rules rules, Visitor& visit, int length)
      : visit_(visit),
        rules_(rules),
        T_(last.type),
        m_(last.length),
        length_(length),
        n_(hand.size),
        ge1_(hand.ge1 & ALL_RANKS),
        ge2_(hand.ge2 & BELOW_X),
        ge3_(hand.ge3 & BELOW_X),
        ge4_(hand.ge4 & BELOW_X),
        kicker_(hand.kicker),
        kickers_(hand.kickers),
        pair_(hand.pair),
        pairs_(hand.pairs) {
    beating_ = T_ == TYPE_PASS ? ALL_RANKS : ALL_RANKS & ~((2u << last.rank) - 1);
    above_ = O.beatingOnly ? beating_ : ALL_RANKS;
  }

  // A lead may be of any kind, a reply only of the kind to beat, a bomb,
  // the rocket or the pass; in both cases in the order of the kinds.
  [[gnu::always_inline]] bool run() {
    if (T_ == TYPE_PASS)
      return pairs() && threes() && straights() && threesWithSingle() && threesWithPair() &&
             foursWithTwo() && foursWithTwoPairs() && pairRuns() && airplanes() &&
             airplanesWithSingles<2>() && airplanesWithSingles<3>() && airplanesWithPairs<2>() &&
             airplanesWithPairs<3>() && bombs() && rocket() && singles();
    bool goOn = true;
    switch (T_) {
      case TYPE_D: goOn = pairs(); break;
      case TYPE_3: goOn = threes(); break;
      case TYPE_SZ: goOn = straights(); break;
      case TYPE_31: goOn = threesWithSingle(); break;
      case TYPE_32: goOn = threesWithPair(); break;
      case TYPE_411: goOn = foursWithTwo(); break;
      case TYPE_422: goOn = foursWithTwoPairs(); break;
      case TYPE_LD: goOn = pairRuns(); break;
      case TYPE_F: goOn = airplanes(); break;
      case TYPE_F11: goOn = airplanesWithSingles<2>() && airplanesWithSingles<3>(); break;
      case TYPE_F22: goOn = airplanesWithPairs<2>() && airplanesWithPairs<3>(); break;
      default: break;  // singles come after the bombs and the rocket
    }
    return goOn && bombs() && rocket() && (T_ != TYPE_G || singles()) &&
           (!O.pass || visit_(Candidate{}));
  }

 private:
  static constexpr uint32_t bit(int r) { return 1u << r; }
  static constexpr uint32_t from(int r) { return ~((2u << r) - 1); }  // the ranks above r

  // A kind of one size; a kind of several sizes must also match the size
  // of the play to beat when only beating plays are wanted.
  bool fits(int len) const { return !O.oneLength || len == length_; }
  bool sized(int len) const {
    return fits(len) && (!O.beatingOnly || T_ == TYPE_PASS || len == m_);
  }

  // 1. pairs, 2. threes: each rank once, ascending.
  [[gnu::always_inline]] bool pairs() {
    if (!(rules_ & R_D) || n_ < 2 || !fits(2)) return true;
    return eachRank(ge2_ & above_, [&](int r) { return visit_(mainPart(TYPE_D, r, 1, 2)); });
  }
  [[gnu::always_inline]] bool threes() {
    if (!(rules_ & R_3) || n_ < 3 || !fits(3)) return true;
    return eachRank(ge3_ & above_, [&](int r) { return visit_(mainPart(TYPE_3, r, 1, 3)); });
  }

  // 3. straights of 5 to 12 ranks within 3 to A: by length, then by start.
  [[gnu::always_inline]] bool straights() { return runs(R_SZ, TYPE_SZ, ge1_, 1, 5, 12); }

  // 4. three with a single, 5. three with a pair: the attached rank is any
  // other, once per rank.
  [[gnu::always_inline]] bool threesWithSingle() {
    if (!(rules_ & R_31) || n_ < 3 || !fits(4)) return true;
    return eachRank(ge3_ & above_, [&](int r) {
      const Candidate three = mainPart(TYPE_31, r, 1, 3);
      return eachRank(kicker_ & ~bit(r), [&](int a) { return visit_(with(three, 1, a)); });
    });
  }
  [[gnu::always_inline]] bool threesWithPair() {
    if (!(rules_ & R_32) || !fits(5)) return true;
    return eachRank(ge3_ & above_, [&](int r) {
      const Candidate three = mainPart(TYPE_32, r, 1, 3);
      return eachRank(pair_ & ~bit(r), [&](int a) { return visit_(with(three, 2, a)); });
    });
  }

  // 6. four with two cards from any positions outside the four: each pair
  // of ranks a <= b once, in the order of its first pick.
  [[gnu::always_inline]] bool foursWithTwo() {
    if (!(rules_ & R_411) || n_ < 4 || !fits(6)) return true;
    return eachRank(ge4_ & above_, [&](int r) {
      const Candidate four = mainPart(TYPE_411, r, 1, 4);
      const uint32_t wings = kickers_ & ~bit(r);
      Picks p = picks(r, r);
      return eachRank(wings,
                      [&](int a) {
                        if ((ge2_ >> a & 1) && !visitPick(p, with(four, 1, a, a), a, a))
                          return false;
                        return eachRank(wings & from(a), [&](int b) {
                          return visitPick(p, with(four, 1, a, b), a, b);
                        });
                      }) &&
             endPicks(p, 2);
    });
  }

  // 7. four with two pairs of two other ranks.
  [[gnu::always_inline]] bool foursWithTwoPairs() {
    if (!(rules_ & R_422) || n_ < 4 || !fits(8)) return true;
    return eachRank(ge4_ & above_, [&](int r) {
      const Candidate four = mainPart(TYPE_422, r, 1, 4);
      const uint32_t wings = pairs_ & ~bit(r);
      return eachRank(wings, [&](int a) {
        return eachRank(wings & from(a), [&](int b) { return visit_(with(four, 2, a, b)); });
      });
    });
  }

  // 8. runs of 3 to 10 pairs, 9. airplanes of 2 to 7 triples: by length,
  // then by start.
  [[gnu::always_inline]] bool pairRuns() { return runs(R_LD, TYPE_LD, ge2_, 2, 3, 10); }
  [[gnu::always_inline]] bool airplanes() { return runs(R_F, TYPE_F, ge3_, 3, 2, 7); }

  // Runs of `copies` cards a rank, `least` to `most` ranks long, from the
  // ranks held at least that often: by length, then by start.
  [[gnu::always_inline]] bool runs(Rules rule, int type, uint32_t held, int copies, int least,
                                   int most) {
    if (!(rules_ & rule) || !runStarts(held, least)) return true;
    for (int len = least; len <= most && len * copies <= n_; ++len) {
      if (!sized(len * copies)) continue;
      if (!eachRank(runStarts(held, len) & above_,
                    [&](int s) { return visit_(mainPart(type, s, len, copies)); }))
        return false;
    }
    return true;
  }

  // 10, 11. airplanes of two or three triples with single wings from any
  // positions outside the run: each set of wing ranks once, in the order of
  // its first pick. Different starts cannot make the same two-triple play
  // (its triples are the only ranks it holds three of).
  template <int TRIPLES>
  [[gnu::always_inline]] bool airplanesWithSingles() {
    constexpr int LENGTH = 4 * TRIPLES;
    if (!(rules_ & R_F11) || n_ < LENGTH || !sized(LENGTH)) return true;
    return eachRank(runStarts(ge3_, TRIPLES) & above_, [&](int s) {
      const Candidate run = mainPart(TYPE_F11, s, TRIPLES, 3);
      const uint32_t wings = ge1_ & ~(((1u << TRIPLES) - 1) << s);
      Picks p = picks(s, s + TRIPLES - 1);
      bool goOn;
      if constexpr (TRIPLES == 2) {
        goOn = eachRank(wings, [&](int a) {
          if ((ge2_ >> a & 1) && !visitPick(p, with(run, 1, a, a), a, a)) return false;
          return eachRank(wings & from(a),
                          [&](int b) { return visitPick(p, with(run, 1, a, b), a, b); });
        });
      } else {
        goOn = eachRank(wings, [&](int a) {
          if (ge2_ >> a & 1) {
            if ((ge3_ >> a & 1) && !offeredBefore(s, a) &&
                !visitPick(p, with(run, 1, a, a, a), a, a, a))
              return false;
            if (!eachRank(wings & from(a),
                          [&](int d) { return visitPick(p, with(run, 1, a, a, d), a, a, d); }))
              return false;
          }
          return eachRank(wings & from(a), [&](int b) {
            if ((ge2_ >> b & 1) && !visitPick(p, with(run, 1, a, b, b), a, b, b)) return false;
            return eachRank(wings & from(b),
                            [&](int d) { return visitPick(p, with(run, 1, a, b, d), a, b, d); });
          });
        });
      }
      return goOn && endPicks(p, TRIPLES);
    });
  }

  // Three wings of rank a next to the three-triple run from s make a fourth
  // triple: the same twelve cards came before as the four-triple airplane
  // (on a lead with airplanes on) or as this kind from the start one lower,
  // with this run's top triple as wings (when that start beats).
  bool offeredBefore(int s, int a) const {
    if (O.allForms) return false;
    const bool below = a == s - 1;
    const bool above = a == s + 3 && a <= RANK_A;
    const bool fourTriples = T_ == TYPE_PASS && (rules_ & R_F);
    return (fourTriples && (below || above)) || (below && (beating_ >> (s - 1) & 1));
  }

  // 12, 13. airplanes of two or three triples with pairs of different ranks
  // outside the run as wings.
  template <int TRIPLES>
  [[gnu::always_inline]] bool airplanesWithPairs() {
    constexpr int LENGTH = 5 * TRIPLES;
    if (!(rules_ & R_F22) || n_ < LENGTH || !sized(LENGTH)) return true;
    return eachRank(runStarts(ge3_, TRIPLES) & above_, [&](int s) {
      const Candidate run = mainPart(TYPE_F22, s, TRIPLES, 3);
      const uint32_t wings = ge2_ & ~(((1u << TRIPLES) - 1) << s);
      return eachRank(wings, [&](int a) {
        return eachRank(wings & from(a), [&](int b) {
          if constexpr (TRIPLES == 2) {
            return visit_(with(run, 2, a, b));
          } else {
            return eachRank(wings & from(b), [&](int d) { return visit_(with(run, 2, a, b, d)); });
          }
        });
      });
    });
  }

  // 14. bombs, on any play; 15. the rocket, on anything; 16. singles.
  [[gnu::always_inline]] bool bombs() {
    if (!(rules_ & R_ZD) || n_ < 4 || !fits(4)) return true;
    uint32_t fours = ge4_;
    if (O.bombsThatBeat) fours = T_ == TYPE_WZ ? 0 : T_ == TYPE_ZD ? fours & beating_ : fours;
    return eachRank(fours, [&](int r) { return visit_(mainPart(TYPE_ZD, r, 1, 4)); });
  }
  [[gnu::always_inline]] bool rocket() {
    if (!(rules_ & R_WZ) || (ge1_ >> RANK_X & 3) != 3 || !fits(2)) return true;
    return visit_(mainPart(TYPE_WZ, RANK_X, 2, 1));
  }
  [[gnu::always_inline]] bool singles() {
    if (!fits(1)) return true;
    return eachRank(ge1_ & beating_, [&](int r) { return visit_(mainPart(TYPE_G, r, 1, 1)); });
  }

  // The picks of one group of attached cards (for countPicks): the hand
  // positions outside the ranks lo..hi, and the distinct plays visited.
  struct Picks {
    int lo, hi;
    int64_t positions = 0, visited = 0;
  };
  Picks picks(int lo, int hi) const {
    Picks p{lo, hi};
    if constexpr (O.countPicks) {
      p.positions = n_;
      for (int r = lo; r <= hi; ++r) p.positions -= visit_.count(r);
    }
    return p;
  }
  int64_t positionsBelow(const Picks& p, int a) const {
    int64_t below = 0;
    for (int q = 0; q < a; ++q)
      if (q < p.lo || q > p.hi) below += visit_.count(q);
    return below;
  }
  // A stop at a play counts the repeated picks made before its first pick.
  bool visitPick(Picks& p, const Candidate& c, int a, int b, int d = -1) {
    if constexpr (O.countPicks) ++p.visited;
    if (visit_(c)) return true;
    if constexpr (O.countPicks) {
      const int64_t i = positionsBelow(p, a);
      const int64_t j = b == a ? i + 1 : positionsBelow(p, b);
      int64_t index;
      if (d < 0) {
        index = pickIndex2(p.positions, i, j);
      } else {
        const int64_t k = d == b ? j + 1 : positionsBelow(p, d);
        index = pickIndex3(p.positions, i, j, k);
      }
      visit_.dropped(index + 1 - p.visited);
    }
    return false;
  }
  // The end of a group counts the repeated picks among all of them.
  bool endPicks(const Picks& p, int wings) {
    if constexpr (O.countPicks)
      visit_.dropped((wings == 2 ? choose2(p.positions) : choose3(p.positions)) - p.visited);
    return true;
  }

  Visitor& visit_;
  const Rules rules_;
  const int T_, m_, length_, n_;
  const uint32_t ge1_, ge2_, ge3_, ge4_;
  const uint32_t kicker_, kickers_, pair_, pairs_;  // where attached cards come from
  uint32_t beating_;  // deciding ranks that beat the play to beat (all on a lead)
  uint32_t above_;    // deciding ranks visited in the kind to beat
};

}  // namespace detail

// Visits the plays of `hand` against `last`, with the switches `rules`, in
// the canonical order (the pass last, on a reply, with O.pass). The
// visitor's bool operator()(const Candidate&) returns false to stop; then
// forEachPlay returns false. `length` serves O.oneLength.
template <Options O, class Visitor>
[[gnu::always_inline]] inline bool forEachPlay(const HandRanks& hand, const ToBeat& last,
                                               Rules rules, Visitor& visit, int length = 0) {
  return detail::Walk<O, Visitor>(hand, last, rules, visit, length).run();
}

}  // namespace zelk::plays
