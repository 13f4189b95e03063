#include "solver/fastmoves.h"

#include <bit>
#include <cassert>

#include "rules/cards.h"
#include "rules/plays.h"
#include "rules/switches.h"

namespace zelk::fast {

bool handFromCards(std::string_view cards, Hand& hand) {
  Hand h = 0;
  for (char ch : cards) {
    int r = rankOf(static_cast<unsigned char>(ch));
    if (r < 0) return false;
    int limit = r >= RANK_X ? 1 : 4;
    if (countOf(h, r) >= limit) return false;
    h += unit(r);
  }
  hand = h;
  return true;
}

std::string handToCards(Hand h) {
  std::string s;
  for (int r = 0; r < RANKS; ++r) s.append(static_cast<std::size_t>(countOf(h, r)), RANK_ORDER[r]);
  return s;
}

bool beatFromPlay(std::string_view play, int type, Beat& beat) {
  if (type == TYPE_PASS) {
    beat = Beat{};
    return true;
  }
  if (play.empty() || play.size() > static_cast<std::size_t>(MAXPN)) return false;
  int r = rankOf(static_cast<unsigned char>(play[0]));
  if (r < 0) return false;
  switch (type) {
    case TYPE_G:
    case TYPE_D:
    case TYPE_3:
    case TYPE_31:
    case TYPE_32:
    case TYPE_411:
    case TYPE_422:
    case TYPE_F:
    case TYPE_F11:
    case TYPE_F22:
    case TYPE_SZ:
    case TYPE_LD:
    case TYPE_ZD:
    case TYPE_WZ: break;
    default: return false;
  }
  beat =
      Beat{static_cast<uint8_t>(type), static_cast<uint8_t>(play.size()), static_cast<uint8_t>(r)};
  return true;
}

namespace {

inline uint32_t lowestTwo(uint32_t m) {
  const uint32_t first = m & (0u - m);
  const uint32_t rest = m & ~first;
  return first | (rest & (0u - rest));
}

// The canonical enumeration (rules/plays.h) over a packed hand. The sink
// takes each play and returns false to stop.
template <plays::Options O, class Sink>
[[gnu::always_inline]] inline void enumerate(Hand h, Beat last, Rules rules, int wantLen,
                                             Sink&& sink) {
  const RankMasks k = rankMasks(h);
  plays::HandRanks hand = plays::HandRanks::of(k.ge1, k.ge2, k.ge3, k.eq4, cardCount(h));
  if (rules & R_DOMINANCE) {
    // Where attached cards may come from: one attached card or pair needs
    // the lowest lone one of the free ranks, two the lowest two; cards out
    // of bigger sets all stay.
    const uint32_t ge1 = k.ge1, ge2 = k.ge2 & plays::BELOW_X, ge3 = k.ge3 & plays::BELOW_X;
    const uint32_t free = freeRanks(h, rules);
    const uint32_t lone = ge1 & ~ge2 & free;
    const uint32_t twice = ge2 & ~ge3 & free;
    hand.kicker = (ge1 & ~lone) | (lone & (0u - lone));
    hand.kickers = (ge1 & ~lone) | lowestTwo(lone);
    hand.pair = (ge2 & ~twice) | (twice & (0u - twice));
    hand.pairs = (ge2 & ~twice) | lowestTwo(twice);
  }
  auto visit = [&](const plays::Candidate& c) {
    return sink(Move{c.cards, static_cast<uint8_t>(c.type), static_cast<uint8_t>(c.length),
                     static_cast<uint8_t>(c.rank)});
  };
  plays::forEachPlay<O>(hand, plays::ToBeat{last.type, last.len, last.rank}, rules, visit, wantLen);
}

// Only the plays that beat, bombs included, as a search wants them.
constexpr plays::Options SEARCH{.beatingOnly = true, .bombsThatBeat = true};

}  // namespace

int generateMoves(Hand hand, Beat last, Rules rules, Move* out) {
  int count = 0;
  enumerate<SEARCH>(hand, last, rules, 0, [&](const Move& mv) {
    assert(count < MAX_MOVES);
    out[count++] = mv;
    return true;
  });
  return count;
}

bool canBeat(Hand hand, Beat last, Rules rules) {
  bool found = false;
  constexpr plays::Options NO_PASS{.bombsThatBeat = true, .pass = false};
  enumerate<NO_PASS>(hand, last, rules, 0, [&](const Move&) {
    found = true;
    return false;
  });
  return found;
}

WholeHand wholeHandForms(Hand hand, Rules rules) {
  rules &= static_cast<Rules>(~R_DOMINANCE);
  WholeHand w;
  if (hand == 0) return w;
  constexpr plays::Options FORMS{
      .bombsThatBeat = true, .pass = false, .oneLength = true, .allForms = true};
  enumerate<FORMS>(hand, Beat{}, rules, cardCount(hand), [&](const Move& mv) {
    if (mv.cards == hand && w.count < WholeHand::CAPACITY) w.forms[w.count++] = mv.beat();
    return true;
  });
  return w;
}

bool WholeHand::beats(Beat last) const {
  if (last.type == TYPE_PASS) return count > 0;
  for (int i = 0; i < count; ++i) {
    const Beat& p = forms[i];
    if (p.type == TYPE_WZ) return true;
    if (p.type == TYPE_ZD) {
      if (last.type == TYPE_ZD ? p.rank > last.rank : last.type != TYPE_WZ) return true;
      continue;
    }
    if (p.type == last.type && p.len == last.len && p.rank > last.rank) return true;
  }
  return false;
}

bool playsOutAtOnce(Hand hand, Beat last, Rules rules) {
  bool found = false;
  constexpr plays::Options ONE_LENGTH{.bombsThatBeat = true, .pass = false, .oneLength = true};
  enumerate<ONE_LENGTH>(hand, last, rules, cardCount(hand), [&](const Move& mv) {
    if (mv.cards != hand) return true;
    found = true;
    return false;
  });
  return found;
}

std::string moveCards(const Move& m) {
  plays::Candidate c;
  if (!plays::Candidate::describe(m.type, m.rank, m.len, m.cards, c)) return handToCards(m.cards);
  char cards[4 * RANKS + 8];
  return std::string(cards, c.write(cards));
}

}  // namespace zelk::fast
