// Compact positions and allocation-free move generation for the fast engine.
//
// A hand is the count of each of the fifteen ranks packed into one machine
// word, four bits a rank (rank r at bits 4r..4r+3), so removing a play is a
// subtraction and comparing hands is comparing words. A play carries the
// same packed counts plus what a reply has to match: its type code, its
// number of cards and its deciding rank.
//
// generateMoves yields exactly the plays of the canonical enumeration, in
// its order, with its duplicate drops: of two plays with the same cards
// only the first one generated exists. The drops happen only among the
// four-with-two plays and the airplanes with single wings, and there the
// cards of a candidate tell in advance whether an earlier candidate had
// them, so no list of siblings is ever searched.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// The thirteen rule switches as bits, read once per solve.
using Rules = uint16_t;
enum : Rules {
  R_D = 1 << 0,
  R_3 = 1 << 1,
  R_31 = 1 << 2,
  R_32 = 1 << 3,
  R_SZ = 1 << 4,
  R_LD = 1 << 5,
  R_ZD = 1 << 6,
  R_WZ = 1 << 7,
  R_411 = 1 << 8,
  R_422 = 1 << 9,
  R_F = 1 << 10,
  R_F11 = 1 << 11,
  R_F22 = 1 << 12,
  R_ALL = (1 << 13) - 1,
  R_SEQUENCES = R_SZ | R_LD | R_F | R_F11 | R_F22,
  // Not a switch: set by canonicalize once no kind of consecutive ranks is
  // left, it lets generateMoves leave out attached cards that another
  // choice beats for sure (see there).
  R_DOMINANCE = 1 << 13,
};
Rules currentRules();
// Sets the process-wide switches from bits (tests and benchmarks).
void applyRules(Rules rules);

// The play to beat as far as a reply is concerned: type 0 means the mover leads.
struct Beat {
  uint8_t type = TYPE_PASS;
  uint8_t len = 0;
  uint8_t rank = 0;

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
  uint16_t key = 0;  // search order, used by the engine only

  Beat beat() const { return Beat{type, len, rank}; }
};

// Most plays one position can offer. A 22-card hand stays far below it
// (the kinds with attached cards are the big ones, a few hundred each).
inline constexpr int MAX_MOVES = 4096;

// Writes the legal plays of `hand` against `last` in canonical order (the
// pass last, when there is something to beat) and returns their number.
//
// With R_DOMINANCE in `rules` (no kind of consecutive ranks left for
// either side) attached cards taken from lone cards (a rank the hand holds
// once, 3 to 2) are the lowest such cards only, and attached pairs taken
// from ranks held exactly twice the lowest such pairs. Keeping a higher
// lone card instead of a lower one can never hurt: whatever the lower card
// could do the higher one does too, and the opponent has fewer answers to
// it. So the position after the play left out is never better for the
// mover than after the play kept, and the position's value stays exact;
// only the search uses this, never the canonical list of plays.
// `out` must hold MAX_MOVES moves.
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
// the rest of the game, the order of the ranks is all that counts, and
// the empty ones go altogether. The 2 and the jokers stay where they are.
// Plays keep their kind, size and order, so the position keeps its value.
void canonicalize(Hand& mover, Hand& other, Beat& beat, Rules& rules);

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

}  // namespace zelk::fast
