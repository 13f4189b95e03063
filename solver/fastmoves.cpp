#include "solver/fastmoves.h"

#include <bit>
#include <cassert>

#include "rules/cards.h"
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

Rules currentRules() {
  Rules r = 0;
  if (on(F_TYPE_D)) r |= R_D;
  if (on(F_TYPE_3)) r |= R_3;
  if (on(F_TYPE_31)) r |= R_31;
  if (on(F_TYPE_32)) r |= R_32;
  if (on(F_TYPE_SZ)) r |= R_SZ;
  if (on(F_TYPE_LD)) r |= R_LD;
  if (on(F_TYPE_ZD)) r |= R_ZD;
  if (on(F_TYPE_WZ)) r |= R_WZ;
  if (on(F_TYPE_411)) r |= R_411;
  if (on(F_TYPE_422)) r |= R_422;
  if (on(F_TYPE_F)) r |= R_F;
  if (on(F_TYPE_F11)) r |= R_F11;
  if (on(F_TYPE_F22)) r |= R_F22;
  return r;
}

void applyRules(Rules rules) {
  setFlag(F_TYPE_D, (rules & R_D) ? 1 : 0);
  setFlag(F_TYPE_3, (rules & R_3) ? 1 : 0);
  setFlag(F_TYPE_31, (rules & R_31) ? 1 : 0);
  setFlag(F_TYPE_32, (rules & R_32) ? 1 : 0);
  setFlag(F_TYPE_SZ, (rules & R_SZ) ? 1 : 0);
  setFlag(F_TYPE_LD, (rules & R_LD) ? 1 : 0);
  setFlag(F_TYPE_ZD, (rules & R_ZD) ? 1 : 0);
  setFlag(F_TYPE_WZ, (rules & R_WZ) ? 1 : 0);
  setFlag(F_TYPE_411, (rules & R_411) ? 1 : 0);
  setFlag(F_TYPE_422, (rules & R_422) ? 1 : 0);
  setFlag(F_TYPE_F, (rules & R_F) ? 1 : 0);
  setFlag(F_TYPE_F11, (rules & R_F11) ? 1 : 0);
  setFlag(F_TYPE_F22, (rules & R_F22) ? 1 : 0);
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

// Each rank's cards of `width` consecutive ranks from rank 0: one a nibble.
constexpr Hand runOf(int width) { return width <= 0 ? 0 : (runOf(width - 1) << 4) | 1; }

// Visits the ranks of a mask from the lowest up.
template <class F>
inline bool eachRank(uint32_t mask, F&& f) {
  for (; mask; mask &= mask - 1)
    if (!f(std::countr_zero(mask))) return false;
  return true;
}

constexpr uint32_t BELOW_X = (1u << RANK_X) - 1;  // the ranks 3 to 2

inline uint32_t lowestTwo(uint32_t m) {
  const uint32_t first = m & (0u - m);
  const uint32_t rest = m & ~first;
  return first | (rest & (0u - rest));
}

// The enumeration itself, shared by the generator and the quick tests. The
// sink takes each play and returns false to stop. wantLen, when not 0, skips
// every play of another size (the play-out test). The ranks that can take
// part in each kind come from rank masks, so a kind costs one step per play
// it yields, not one per rank it looks at.
template <class Sink>
void enumerate(Hand h, Beat last, Rules rules, int wantLen, Sink&& sink, bool allForms = false) {
  const RankMasks k = rankMasks(h);
  const uint32_t ge1 = k.ge1, ge2 = k.ge2 & BELOW_X, ge3 = k.ge3 & BELOW_X, eq4 = k.eq4 & BELOW_X;
  const int n = cardCount(h);
  const int T = last.type;
  const int m = last.len;
  const int lr = last.rank;
  // Ranks whose plays beat the last one (every rank when leading).
  const uint32_t above = T == 0 ? 0x7FFFu : ~((2u << lr) - 1) & 0x7FFFu;
  auto lenOk = [&](int len) { return wantLen == 0 || wantLen == len; };
  auto emit = [&](Hand cards, int type, int len, int rank) {
    return sink(Move{cards, static_cast<uint8_t>(type), static_cast<uint8_t>(len),
                     static_cast<uint8_t>(rank)});
  };
  auto bit = [](int r) { return 1u << r; };
  // Where attached cards may come from (see R_DOMINANCE).
  uint32_t singleWing = ge1, singleWings = ge1, pairWing = ge2, pairWings = ge2;
  if (rules & R_DOMINANCE) {
    const uint32_t free = freeRanks(h, rules);
    const uint32_t lone = ge1 & ~ge2 & free;
    const uint32_t twice = ge2 & ~ge3 & free;
    // One attached card or pair needs the lowest one, two the lowest two;
    // cards out of bigger sets all stay.
    singleWing = (ge1 & ~lone) | (lone & (0u - lone));
    singleWings = (ge1 & ~lone) | lowestTwo(lone);
    pairWing = ge3 | (twice & (0u - twice));
    pairWings = ge3 | lowestTwo(twice);
  }

  // 1 pairs
  if ((rules & R_D) && (T == 0 || T == TYPE_D) && n >= 2 && lenOk(2)) {
    if (!eachRank(ge2 & above, [&](int r) { return emit(2 * unit(r), TYPE_D, 2, r); })) return;
  }
  // 2 threes
  if ((rules & R_3) && (T == 0 || T == TYPE_3) && n >= 3 && lenOk(3)) {
    if (!eachRank(ge3 & above, [&](int r) { return emit(3 * unit(r), TYPE_3, 3, r); })) return;
  }
  // 3 straights: by length, then by start
  if ((rules & R_SZ) && (T == 0 || T == TYPE_SZ)) {
    for (int w = 5; w <= 12 && w <= n; ++w) {
      if (T != 0 && w != m) continue;
      if (!lenOk(w)) continue;
      const Hand cards = runOf(w);
      if (!eachRank(detail::runStarts(ge1, w) & above,
                    [&](int s) { return emit(cards << (4 * s), TYPE_SZ, w, s); }))
        return;
    }
  }
  // 4 three with a single
  if ((rules & R_31) && (T == 0 || T == TYPE_31) && n >= 3 && lenOk(4)) {
    if (!eachRank(ge3 & above, [&](int r) {
          return eachRank(singleWing & ~bit(r),
                          [&](int j) { return emit(3 * unit(r) + unit(j), TYPE_31, 4, r); });
        }))
      return;
  }
  // 5 three with a pair
  if ((rules & R_32) && (T == 0 || T == TYPE_32) && lenOk(5)) {
    if (!eachRank(ge3 & above, [&](int r) {
          return eachRank(pairWing & ~bit(r),
                          [&](int j) { return emit(3 * unit(r) + 2 * unit(j), TYPE_32, 5, r); });
        }))
      return;
  }
  // 6 four with two cards. Picking positions j < k yields each pair of
  // ranks a <= b first at its lowest positions, so taking each multiset once,
  // in the order of (a, b), is exactly what the duplicate drop leaves.
  if ((rules & R_411) && (T == 0 || T == TYPE_411) && n >= 4 && lenOk(6)) {
    if (!eachRank(eq4 & above, [&](int r) {
          const uint32_t wings = singleWings & ~bit(r);
          return eachRank(wings, [&](int a) {
            if ((ge2 >> a & 1) && !emit(4 * unit(r) + 2 * unit(a), TYPE_411, 6, r)) return false;
            return eachRank(wings & ~((2u << a) - 1), [&](int b) {
              return emit(4 * unit(r) + unit(a) + unit(b), TYPE_411, 6, r);
            });
          });
        }))
      return;
  }
  // 7 four with two pairs
  if ((rules & R_422) && (T == 0 || T == TYPE_422) && n >= 4 && lenOk(8)) {
    if (!eachRank(eq4 & above, [&](int r) {
          const uint32_t wings = pairWings & ~bit(r);
          return eachRank(wings, [&](int a) {
            return eachRank(wings & ~((2u << a) - 1), [&](int b) {
              return emit(4 * unit(r) + 2 * unit(a) + 2 * unit(b), TYPE_422, 8, r);
            });
          });
        }))
      return;
  }
  // 8 runs of pairs: 3 to 10 pairs
  if ((rules & R_LD) && (T == 0 || T == TYPE_LD)) {
    for (int w = 6; w <= 20 && w <= n; w += 2) {
      if (T != 0 && w != m) continue;
      if (!lenOk(w)) continue;
      const Hand cards = 2 * runOf(w / 2);
      if (!eachRank(detail::runStarts(ge2, w / 2) & above,
                    [&](int s) { return emit(cards << (4 * s), TYPE_LD, w, s); }))
        return;
    }
  }
  // 9 airplanes: 2 to 7 triples
  if ((rules & R_F) && (T == 0 || T == TYPE_F)) {
    for (int w = 6; w <= 21 && w <= n; w += 3) {
      if (T != 0 && w != m) continue;
      if (!lenOk(w)) continue;
      const Hand cards = 3 * runOf(w / 3);
      if (!eachRank(detail::runStarts(ge3, w / 3) & above,
                    [&](int s) { return emit(cards << (4 * s), TYPE_F, w, s); }))
        return;
    }
  }
  // 10 airplane of two triples with single wings. The triples are the only
  // ranks with three cards in the play, so different picks never collide
  // across starts; within a start each wing multiset is taken once.
  if ((rules & R_F11) && (T == 0 || T == TYPE_F11) && n >= 8 && (T == 0 || m == 8) && lenOk(8)) {
    if (!eachRank(detail::runStarts(ge3, 2) & above, [&](int s) {
          const Hand run = 3 * runOf(2) << (4 * s);
          const uint32_t wings = ge1 & ~(3u << s);
          return eachRank(wings, [&](int a) {
            if ((ge2 >> a & 1) && !emit(run + 2 * unit(a), TYPE_F11, 8, s)) return false;
            return eachRank(wings & ~((2u << a) - 1),
                            [&](int b) { return emit(run + unit(a) + unit(b), TYPE_F11, 8, s); });
          });
        }))
      return;
  }
  // 11 airplane of three triples with single wings. Three wings of one rank
  // next to the run make a fourth triple: those cards were already offered
  // as the four-triple airplane (when airplanes are on and the mover leads)
  // or as this kind from the start one lower (when that start beats).
  if ((rules & R_F11) && (T == 0 || T == TYPE_F11) && n >= 12 && (T == 0 || m == 12) && lenOk(12)) {
    const bool fourTripleOffered = T == 0 && (rules & R_F);
    if (!eachRank(detail::runStarts(ge3, 3) & above, [&](int s) {
          const Hand run = 3 * runOf(3) << (4 * s);
          const uint32_t wings = ge1 & ~(7u << s);
          return eachRank(wings, [&](int a) {
            // b == a: two of rank a, then d from a up.
            if (ge2 >> a & 1) {
              bool skipTriple = false;
              if (!allForms && (ge3 >> a & 1)) {
                if (a == s - 1 && (fourTripleOffered || (above >> (s - 1) & 1))) skipTriple = true;
                if (a == s + 3 && a <= 11 && fourTripleOffered) skipTriple = true;
              }
              if ((ge3 >> a & 1) && !skipTriple && !emit(run + 3 * unit(a), TYPE_F11, 12, s))
                return false;
              if (!eachRank(wings & ~((2u << a) - 1), [&](int d) {
                    return emit(run + 2 * unit(a) + unit(d), TYPE_F11, 12, s);
                  }))
                return false;
            }
            // b > a: d == b needs two of b, then d > b.
            return eachRank(wings & ~((2u << a) - 1), [&](int b) {
              if ((ge2 >> b & 1) && !emit(run + unit(a) + 2 * unit(b), TYPE_F11, 12, s))
                return false;
              return eachRank(wings & ~((2u << b) - 1), [&](int d) {
                return emit(run + unit(a) + unit(b) + unit(d), TYPE_F11, 12, s);
              });
            });
          });
        }))
      return;
  }
  // 12 airplane of two triples with pair wings
  if ((rules & R_F22) && (T == 0 || T == TYPE_F22) && n >= 10 && (T == 0 || m == 10) && lenOk(10)) {
    if (!eachRank(detail::runStarts(ge3, 2) & above, [&](int s) {
          const Hand run = 3 * runOf(2) << (4 * s);
          const uint32_t wings = ge2 & ~(3u << s);
          return eachRank(wings, [&](int a) {
            return eachRank(wings & ~((2u << a) - 1), [&](int b) {
              return emit(run + 2 * unit(a) + 2 * unit(b), TYPE_F22, 10, s);
            });
          });
        }))
      return;
  }
  // 13 airplane of three triples with pair wings
  if ((rules & R_F22) && (T == 0 || T == TYPE_F22) && n >= 15 && (T == 0 || m == 15) && lenOk(15)) {
    if (!eachRank(detail::runStarts(ge3, 3) & above, [&](int s) {
          const Hand run = 3 * runOf(3) << (4 * s);
          const uint32_t wings = ge2 & ~(7u << s);
          return eachRank(wings, [&](int a) {
            return eachRank(wings & ~((2u << a) - 1), [&](int b) {
              return eachRank(wings & ~((2u << b) - 1), [&](int d) {
                return emit(run + 2 * unit(a) + 2 * unit(b) + 2 * unit(d), TYPE_F22, 15, s);
              });
            });
          });
        }))
      return;
  }
  // 14 bombs: on any play; a bomb must top a bomb, nothing tops the rocket
  if ((rules & R_ZD) && n >= 4 && lenOk(4) && T != TYPE_WZ) {
    const uint32_t bombs = T == TYPE_ZD ? eq4 & above : eq4;
    if (!eachRank(bombs, [&](int r) { return emit(4 * unit(r), TYPE_ZD, 4, r); })) return;
  }
  // 15 the rocket, on anything (even on a rocket from a second pack)
  if ((rules & R_WZ) && (ge1 >> RANK_X & 1) && (ge1 >> RANK_Y & 1) && lenOk(2)) {
    if (!emit(unit(RANK_X) + unit(RANK_Y), TYPE_WZ, 2, RANK_X)) return;
  }
  // 16 singles
  if ((T == 0 || T == TYPE_G) && lenOk(1)) {
    if (!eachRank(ge1 & above, [&](int r) { return emit(unit(r), TYPE_G, 1, r); })) return;
  }
}

}  // namespace

int generateMoves(Hand hand, Beat last, Rules rules, Move* out) {
  int count = 0;
  enumerate(hand, last, rules, 0, [&](const Move& mv) {
    assert(count < MAX_MOVES - 1);
    out[count++] = mv;
    return true;
  });
  if (last.type != TYPE_PASS) out[count++] = Move{};
  return count;
}

bool canBeat(Hand hand, Beat last, Rules rules) {
  bool found = false;
  enumerate(hand, last, rules, 0, [&](const Move&) {
    found = true;
    return false;
  });
  return found;
}

WholeHand wholeHandForms(Hand hand, Rules rules) {
  rules &= static_cast<Rules>(~R_DOMINANCE);
  WholeHand w;
  if (hand == 0) return w;
  enumerate(
      hand, Beat{}, rules, cardCount(hand),
      [&](const Move& mv) {
        if (mv.cards == hand && w.count < WholeHand::CAPACITY) w.forms[w.count++] = mv.beat();
        return true;
      },
      true);
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
  enumerate(hand, last, rules, cardCount(hand), [&](const Move& mv) {
    if (mv.cards != hand) return true;
    found = true;
    return false;
  });
  return found;
}

std::string moveCards(const Move& m) {
  std::string s;
  Hand rest = m.cards;
  auto take = [&](int r, int k) {
    s.append(static_cast<std::size_t>(k), RANK_ORDER[r]);
    rest -= static_cast<Hand>(k) * unit(r);
  };
  switch (m.type) {
    case TYPE_PASS: return s;
    case TYPE_SZ:
    case TYPE_LD:
    case TYPE_F:
    case TYPE_WZ: return handToCards(m.cards);  // ascending is their written order
    case TYPE_G:
    case TYPE_D:
    case TYPE_3:
    case TYPE_ZD: return handToCards(m.cards);
    case TYPE_31:
    case TYPE_32: take(m.rank, 3); break;
    case TYPE_411:
    case TYPE_422: take(m.rank, 4); break;
    case TYPE_F11:
    case TYPE_F22: {
      int triples = m.type == TYPE_F11 ? m.len / 4 : m.len / 5;
      for (int r = m.rank; r < m.rank + triples; ++r) take(r, 3);
      break;
    }
    default: return handToCards(m.cards);
  }
  return s + handToCards(rest);
}

}  // namespace zelk::fast
