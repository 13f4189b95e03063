// Compact positions and allocation-free move generation for the fast engine.
//
// A hand is the count of each of the fifteen ranks packed into one machine
// word, four bits a rank (rank r at bits 4r..4r+3), so removing a play is a
// subtraction and comparing hands is comparing words. A play carries the
// same packed counts plus what a reply has to match: its type code, its
// number of cards and its deciding rank.
//
// generateMoves walks the canonical enumeration (rules/plays.h), so it
// yields exactly its plays, in its order, with its duplicate drops: of two
// plays with the same cards only the first one generated exists. The drops
// happen only among the four-with-two plays and the airplanes with single
// wings, and there the cards of a candidate tell in advance whether an
// earlier candidate had them, so no list of siblings is ever searched.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "rules/plays.h"
#include "rules/switches.h"
#include "rules/types.h"

namespace zelk::fast {

using Hand = uint64_t;

inline constexpr int RANKS = 15;
inline constexpr int RANK_2 = 12;
inline constexpr int RANK_X = 13;
inline constexpr int RANK_Y = 14;

constexpr Hand unit(int rank) { return Hand(1) << (4 * rank); }
constexpr int countOf(Hand h, int rank) { return static_cast<int>((h >> (4 * rank)) & 0xF); }

// Number of cards in a hand.
inline int cardCount(Hand h) {
  Hand pairs = (h & 0x0F0F0F0F0F0F0F0FULL) + ((h >> 4) & 0x0F0F0F0F0F0F0F0FULL);
  return static_cast<int>((pairs * 0x0101010101010101ULL) >> 56);
}

// A card string (any order) as a hand; false for a character outside the
// notation, more than four of a rank or more than one joker of a kind.
bool handFromCards(std::string_view cards, Hand& hand);
// The hand as an ascending card string.
std::string handToCards(Hand h);

// The thirteen rule switches as bits, read once per solve (rules/switches.h).
using zelk::applyRules;
using zelk::currentRules;
using zelk::R_3;
using zelk::R_31;
using zelk::R_32;
using zelk::R_411;
using zelk::R_422;
using zelk::R_ALL;
using zelk::R_D;
using zelk::R_F;
using zelk::R_F11;
using zelk::R_F22;
using zelk::R_LD;
using zelk::R_SEQUENCES;
using zelk::R_SZ;
using zelk::R_WZ;
using zelk::R_ZD;
using zelk::Rules;
// Not a switch: set by the search (see generateMoves) to leave out plays
// that another play beats for sure.
inline constexpr Rules R_DOMINANCE = 1 << 13;

// The play to beat as far as a reply is concerned: type 0 means the mover leads.
struct Beat {
  uint8_t type = TYPE_PASS;
  uint8_t len = 0;
  uint8_t rank = 0;
  uint8_t unused = 0;  // four bytes travel in one register, three through memory

  bool operator==(const Beat&) const = default;
};

// The play to beat from its string and type code; false when they cannot
// describe a play (a card outside the notation, a type without cards).
bool beatFromPlay(std::string_view play, int type, Beat& beat);

struct Move {
  Hand cards = 0;  // 0 for the pass
  uint8_t type = TYPE_PASS;
  uint8_t len = 0;
  uint8_t rank = 0;
  uint16_t marks = 0;  // bits the engine's search notes on the play; 0 as generated

  Beat beat() const { return Beat{type, len, rank}; }
};

// Most plays one position can offer. A 22-card hand stays far below it
// (the kinds with attached cards are the big ones, a few hundred each).
inline constexpr int MAX_MOVES = 4096;

// Writes the legal plays of `hand` against `last` in canonical order (the
// pass last, when there is something to beat) and returns their number.
//
// With R_DOMINANCE in `rules`, attached cards taken from lone cards of
// free ranks (see freeRanks) are the lowest such cards only, and attached
// pairs taken from free ranks held exactly twice the lowest such pairs.
// Keeping a higher lone card instead of a lower one can never hurt:
// whatever the lower card could do the higher one does too, and the
// opponent has fewer answers to it. So the position after the play left
// out is never better for the mover than after the play kept, and the
// position's value stays exact; only the search uses this, never the
// canonical list of plays.
int generateMoves(Hand hand, Beat last, Rules rules, Move* out);

// True when `hand` holds a play, other than the pass, that beats `last`.
bool canBeat(Hand hand, Beat last, Rules rules);

// True when the whole hand is one legal play against `last` (the mover then
// wins on the spot).
bool playsOutAtOnce(Hand hand, Beat last, Rules rules);

// Which ranks of a hand can start the main part of a play: one bit a rank
// for ranks with at least one, two, three and four cards. Built once per
// hand, it answers normalizeBeat for every play the other side could make.
struct RankMasks {
  uint16_t ge1 = 0, ge2 = 0, ge3 = 0, eq4 = 0;
};
RankMasks rankMasks(Hand hand);

// The position after a play depends on the play to beat only through the
// replies it allows. Two plays of one kind whose deciding ranks have no
// possible reply between them allow the same replies (bombs and the rocket
// do not look at the rank of a play of another kind), so the play is
// raised to just below the lowest rank the hand could answer with, and
// positions that differ only there meet in the table. Kinds with attached
// cards are judged by their main part alone: that can only leave a rank
// unraised, never raise it past a reply.
Beat normalizeBeat(const RankMasks& masks, Beat last);

// True when the hand surely holds no reply to `normalized` (a result of
// normalizeBeat with the hand's masks), so its only play is the pass. May
// answer false for a hand that cannot reply after all (a main part without
// its attached cards); never true for one that can.
bool cannotAnswer(const RankMasks& masks, Beat normalized, Rules rules);

// Rewrites a position (the mover's hand, the other hand, the play to beat
// as normalizeBeat leaves it, the rules in force) into the one form every
// equivalent position shares. Ranks 3 to A that neither hand holds only
// separate what is on either side of them, and one empty rank does that as
// well as several, so runs of them shrink to one and the held ranks move
// down. Once neither hand can make a play of consecutive ranks (hands only
// shrink, so that stays so), those kinds are switched off in `rules` for
// the rest of the game, the order of the ranks is all that counts: the
// empty ones go altogether, and the counts of neighbouring ranks one side
// holds alone are sorted (see detail::sortBlocks). The 2 and the jokers
// stay where they are.
// Plays keep their kind, size and order, so the position keeps its value.
void canonicalize(Hand& mover, Hand& other, Beat& beat, Rules& rules);

// True when, after a play from `mover` (in canonical form against `other`)
// leaves `rest`, the new position is in canonical form already: no rank 3
// to A left the table, and the kinds of consecutive ranks stay possible if
// they were (`otherSequences`: whether `other` can still make one). Saves
// the canonicalize call for most plays.
bool formKept(Hand mover, Hand rest, Hand other, Rules rules, bool otherSequences);
// The ranks 3 to 2 that no play of consecutive ranks of the hand can ever
// take a card from (hands only shrink). Two such ranks held equally often
// can trade places in any play, so holding the higher one is never worse.
uint16_t freeRanks(Hand hand, Rules rules);
// An unanswerable play that is all the cards of a free rank, of a kind where
// of two such plays the higher is never better than the lower: keeping the
// higher rank does all the lower one would and leaves the opponent fewer
// answers, and the mover leads again either way.
inline bool isWholeFreeRank(const Move& m, Hand me, uint16_t freeMe) {
  return (freeMe >> m.rank & 1) &&
         (m.type == TYPE_G || m.type == TYPE_D || m.type == TYPE_3 || m.type == TYPE_ZD) &&
         countOf(me, m.rank) == m.len;
}
// One bit for each kind of whole-rank play.
inline unsigned wholeRankKind(int type) {
  return type == TYPE_G ? 1u : type == TYPE_D ? 2u : type == TYPE_3 ? 4u : 8u;
}
// Whether the hand can still make a play of consecutive ranks.
bool sequencesPossible(Hand hand, Rules rules);

// The plays the whole hand forms by itself (usually none or one; the four
// consecutive triples form an airplane and two airplanes with wings). With
// them, "can the hand be played out at once on this play" costs a few loads.
struct WholeHand {
  static constexpr int CAPACITY = 8;
  int count = 0;
  Beat forms[CAPACITY];
  // True when one of the forms is legal on `last` (any form when leading).
  bool beats(Beat last) const;
};
WholeHand wholeHandForms(Hand hand, Rules rules);

// The play's card string as the canonical generator writes it (main part
// first, attached cards ascending).
std::string moveCards(const Move& m);

// ---------------------------------------------------------------------------
// Definitions of the helpers above that run for every play the search looks
// at: here, so that they inline into it.

namespace detail {

// Starts of `width` consecutive ranks below the 2 that are all in `m`.
using plays::runStarts;

}  // namespace detail

inline RankMasks rankMasks(Hand h) {
  // Per nibble (counts 0..4): bit 0 of each nibble is set for the answer.
  constexpr Hand LOW = 0x1111111111111111ULL;
  const Hand ge1 = (h | (h >> 1) | (h >> 2)) & LOW;
  const Hand ge2 = ((h >> 1) | (h >> 2)) & LOW;
  const Hand ge3 = ((h >> 2) | (h & (h >> 1))) & LOW;
  const Hand eq4 = (h >> 2) & LOW;
  // Squeezes the flags at bits 4r into bits r: two steps pack them four to
  // each 16-bit lane, and one multiplication lays the four lanes side by
  // side in the top 16 bits (lane k, shifted by 48 - 12k, lands on bits
  // 48 + 4k; the other products fall below bit 48 without overlapping, or
  // beyond bit 63).
  auto gather = [](Hand x) {
    x = (x | (x >> 3)) & 0x0303030303030303ULL;
    x = (x | (x >> 6)) & 0x000F000F000F000FULL;
    return static_cast<uint16_t>((x * 0x0001001001001000ULL) >> 48);
  };
  return RankMasks{gather(ge1), gather(ge2), gather(ge3), gather(eq4)};
}

[[gnu::always_inline]] inline Beat normalizeBeat(const RankMasks& k, Beat last) {
  uint32_t starts;
  switch (last.type) {
    case TYPE_G: starts = k.ge1; break;
    case TYPE_D: starts = k.ge2 & ((1u << (RANK_2 + 1)) - 1); break;
    case TYPE_3:
    case TYPE_31:
    case TYPE_32: starts = k.ge3 & ((1u << (RANK_2 + 1)) - 1); break;
    case TYPE_411:
    case TYPE_422:
    case TYPE_ZD: starts = k.eq4 & ((1u << (RANK_2 + 1)) - 1); break;
    case TYPE_SZ: starts = detail::runStarts(k.ge1, last.len); break;
    case TYPE_LD: starts = detail::runStarts(k.ge2, last.len / 2); break;
    case TYPE_F: starts = detail::runStarts(k.ge3, last.len / 3); break;
    case TYPE_F11: starts = detail::runStarts(k.ge3, last.len / 4); break;
    case TYPE_F22: starts = detail::runStarts(k.ge3, last.len / 5); break;
    default: return last;  // the lead and the rocket
  }
  starts &= ~((2u << last.rank) - 1);  // only those that beat
  Beat b = last;
  b.rank = static_cast<uint8_t>(starts ? std::countr_zero(starts) - 1 : RANKS);
  return b;
}

namespace detail {

constexpr Hand LOW_NIBBLES = 0x1111111111111111ULL;
constexpr Hand SEQ_RANKS = (Hand(1) << (4 * RANK_2)) - 1;  // the nibbles of 3 to A

// Works on the packed counts directly (a flag at bit 4r for rank r): this
// runs for every play the search looks at.
inline bool sequencesPossible(Hand h, Rules rules) {
  const Hand ge1 = (h | (h >> 1) | (h >> 2)) & detail::LOW_NIBBLES & detail::SEQ_RANKS;
  const Hand ge2 = ((h >> 1) | (h >> 2)) & detail::LOW_NIBBLES & detail::SEQ_RANKS;
  const Hand ge3 = ((h >> 2) | (h & (h >> 1))) & detail::LOW_NIBBLES & detail::SEQ_RANKS;
  if ((rules & R_SZ) && (ge1 & (ge1 >> 4) & (ge1 >> 8) & (ge1 >> 12) & (ge1 >> 16))) return true;
  if ((rules & R_LD) && (ge2 & (ge2 >> 4) & (ge2 >> 8))) return true;
  if ((rules & (R_F | R_F11 | R_F22)) && (ge3 & (ge3 >> 4))) return true;
  return false;
}

// Without plays of consecutive ranks a side's cards only ever meet the
// other side's: one side's cards are compared with its own never, and a
// play to beat only with the mover's. So ranks 3 to 2 that one side holds
// alone, with none of the other side's ranks (nor, for the mover, the play
// to beat) between them, can trade their counts freely; they are sorted,
// fewest cards lowest, so that such positions meet in the table.
inline void sortBlocks(Hand& a, Hand& b, Beat beat) {
  // Packed, the held ranks below the 2 are consecutive, so a block goes on
  // from rank r - 1 to r where both are held by the same side alone (and,
  // for the mover, the play to beat is not in between). The counts are in
  // order where each such rank holds at least as many as the one below it;
  // a nibble-wise subtraction checks every rank at once, and most positions
  // need nothing more.
  constexpr Hand UP_TO_2 = (Hand(1) << (4 * (RANK_2 + 1))) - 1;
  constexpr Hand HIGH_NIBBLES = 0x8888888888888888ULL;
  const Hand fa = (a | (a >> 1) | (a >> 2)) & LOW_NIBBLES & UP_TO_2;
  const Hand fb = (b | (b >> 1) | (b >> 2)) & LOW_NIBBLES & UP_TO_2;
  const Hand onlyA = fa & ~fb, onlyB = fb & ~fa;
  Hand goesOnA = onlyA & (onlyA << 4), goesOnB = onlyB & (onlyB << 4);
  if (beat.type != TYPE_PASS && beat.rank + 1 <= RANK_2)
    goesOnA &= ~(Hand(1) << (4 * (beat.rank + 1)));
  auto disorder = [](Hand h, Hand goesOn) {
    const Hand atLeast = ((h | HIGH_NIBBLES) - (h << 4)) >> 3;  // bit 4r: count r >= count r - 1
    return goesOn & ~atLeast;
  };
  // Neighbours out of order within a block swap counts until none are: a
  // play takes cards from one or two ranks, so there are few.
  auto fix = [&](Hand& h, Hand goesOn) {
    for (Hand bad = disorder(h, goesOn); bad; bad = disorder(h, goesOn)) {
      const int shift = std::countr_zero(bad);  // 4r: rank r holds fewer than r - 1
      const Hand hi = (h >> shift) & 0xF, lo = (h >> (shift - 4)) & 0xF;
      h = (h & ~(Hand(0xFF) << (shift - 4))) | (lo << shift) | (hi << (shift - 4));
    }
  };
  fix(a, goesOnA);
  fix(b, goesOnB);
  // The 2 goes on from the highest rank below it even across empty ranks;
  // out of order there, the blocks are sorted whole.
  const Hand two = Hand(1) << (4 * RANK_2);
  const Hand below2 = (fa | fb) & SEQ_RANKS;
  if (!((onlyA | onlyB) & two) || !below2 || (below2 & (two >> 4))) return;
  const int t = (63 - std::countl_zero(below2)) / 4;
  const Hand top = Hand(1) << (4 * t);
  bool gap = false;
  if ((onlyA & two) && (onlyA & top))
    gap = countOf(a, t) > countOf(a, RANK_2) &&
          !(beat.type != TYPE_PASS && beat.rank >= t && beat.rank < RANK_2);
  if ((onlyB & two) && (onlyB & top)) gap = gap || countOf(b, t) > countOf(b, RANK_2);
  if (!gap) return;
  int ranks[RANK_2 + 1];
  int n = 0, owner = 0;
  auto close = [&]() {
    if (n >= 2) {
      Hand& h = owner == 1 ? a : b;
      int c[RANK_2 + 1];
      for (int i = 0; i < n; ++i) c[i] = countOf(h, ranks[i]);
      for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && c[j - 1] > c[j]; --j) std::swap(c[j - 1], c[j]);
      for (int i = 0; i < n; ++i)
        h = (h & ~(Hand(0xF) << (4 * ranks[i]))) | (Hand(c[i]) << (4 * ranks[i]));
    }
    n = 0;
  };
  for (int r = 0; r <= RANK_2; ++r) {
    const int ca = countOf(a, r), cb = countOf(b, r);
    if (ca == 0 && cb == 0) continue;
    const int o = ca && cb ? 3 : ca ? 1 : 2;
    const bool splits =
        o == 1 && beat.type != TYPE_PASS && n > 0 && ranks[n - 1] <= beat.rank && r > beat.rank;
    if (o != owner || o == 3 || splits) {
      close();
      owner = o;
    }
    if (o != 3) ranks[n++] = r;
  }
  close();
}

}  // namespace detail

inline bool sequencesPossible(Hand hand, Rules rules) {
  return detail::sequencesPossible(hand, rules);
}

inline uint16_t freeRanks(Hand hand, Rules rules) {
  const RankMasks k = rankMasks(hand);
  uint32_t cover = 0;
  auto spread = [&](uint32_t starts, uint32_t width) {
    for (; starts; starts &= starts - 1) cover |= width << std::countr_zero(starts);
  };
  if (rules & R_SZ) spread(detail::runStarts(k.ge1, 5), 0x1F);
  if (rules & R_LD) spread(detail::runStarts(k.ge2, 3), 0x7);
  if (rules & (R_F | R_F11 | R_F22)) spread(detail::runStarts(k.ge3, 2), 0x3);
  return static_cast<uint16_t>(((1u << RANK_X) - 1) & ~cover);
}

inline bool formKept(Hand mover, Hand rest, Hand other, Rules rules, bool otherSequences) {
  if (!(rules & R_SEQUENCES)) return false;  // the counts may need sorting again
  auto held = [](Hand h) {
    return (h | (h >> 1) | (h >> 2)) & detail::LOW_NIBBLES & detail::SEQ_RANKS;
  };
  if (held(mover) & ~held(rest) & ~held(other)) return false;
  return !(rules & R_SEQUENCES) || otherSequences || detail::sequencesPossible(rest, rules);
}

[[gnu::always_inline]] inline void canonicalize(Hand& a, Hand& b, Beat& beat, Rules& rules) {
  const Hand both = a | b;
  const Hand held = (both | (both >> 1) | (both >> 2)) & detail::LOW_NIBBLES & detail::SEQ_RANKS;
  if (held == 0) return;
  if ((rules & R_SEQUENCES) && !detail::sequencesPossible(a, rules) &&
      !detail::sequencesPossible(b, rules))
    rules &= static_cast<Rules>(~R_SEQUENCES);
  const bool packed = (rules & R_SEQUENCES) == 0;
  // The empty ranks below the highest held one, a flag a nibble.
  const Hand below = (Hand(2) << (63 - std::countl_zero(held))) - 1;
  const Hand empty = ~held & detail::LOW_NIBBLES & below;
  // Packed, every empty rank goes but the bottom one; otherwise each empty
  // rank right above another.
  Hand drop = packed ? empty & ~Hand(1) : empty & (empty << 4);
  if (drop) {
    // Highest first, so that the ranks still to drop stay where they are.
    const bool moveBeat = beat.type != TYPE_PASS && beat.rank + 1 < RANK_2;
    int rank = beat.rank;
    const int beatRank = beat.rank;
    do {
      const int bit = 63 - std::countl_zero(drop);
      const Hand low = (Hand(1) << bit) - 1;  // the ranks below the dropped one
      a = (a & ~detail::SEQ_RANKS) | (a & low) | (((a & detail::SEQ_RANKS) >> (bit + 4)) << bit);
      b = (b & ~detail::SEQ_RANKS) | (b & low) | (((b & detail::SEQ_RANKS) >> (bit + 4)) << bit);
      // A play to beat above the dropped rank moves down with the held ones,
      // which keeps every comparison with them.
      if (bit / 4 <= beatRank) --rank;
      drop &= low;
    } while (drop);
    if (moveBeat) beat.rank = static_cast<uint8_t>(rank);
  }
  if (packed) detail::sortBlocks(a, b, beat);
}

inline bool cannotAnswer(const RankMasks& k, Beat b, Rules rules) {
  const bool rocket = (rules & R_WZ) && (k.ge1 >> RANK_X & 1) && (k.ge1 >> RANK_Y & 1);
  switch (b.type) {
    case TYPE_PASS: return false;
    case TYPE_WZ: return !rocket;
    case TYPE_ZD: return b.rank >= RANKS && !rocket;
    default: return b.rank >= RANKS && !rocket && !((rules & R_ZD) && k.eq4);
  }
}

}  // namespace zelk::fast
