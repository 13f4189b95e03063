#include "rules/plays.h"

namespace zelk::plays {

namespace {

constexpr int countIn(CardCounts cards, int rank) {
  return static_cast<int>((cards >> (4 * rank)) & 0xF);
}

}  // namespace

bool Candidate::describe(int type, int rank, int length, CardCounts cards, Candidate& out) {
  int ranks = 1, width = 1, attachWidth = 0;
  switch (type) {
    case TYPE_PASS: out = Candidate{}; return cards == 0 && length == 0;
    case TYPE_G: break;
    case TYPE_D: width = 2; break;
    case TYPE_3: width = 3; break;
    case TYPE_ZD: width = 4; break;
    case TYPE_WZ: ranks = 2; break;
    case TYPE_SZ: ranks = length; break;
    case TYPE_LD: ranks = length / 2, width = 2; break;
    case TYPE_F: ranks = length / 3, width = 3; break;
    case TYPE_31: width = 3, attachWidth = 1; break;
    case TYPE_32: width = 3, attachWidth = 2; break;
    case TYPE_411: width = 4, attachWidth = 1; break;
    case TYPE_422: width = 4, attachWidth = 2; break;
    case TYPE_F11: ranks = length / 4, width = 3, attachWidth = 1; break;
    case TYPE_F22: ranks = length / 5, width = 3, attachWidth = 2; break;
    default: return false;
  }
  if (rank < 0 || ranks < 1 || rank + ranks > RANK_COUNT) return false;
  Candidate c = detail::mainPart(type, rank, ranks, width);
  for (int r = 0; r < RANK_COUNT; ++r)
    if (countIn(c.cards, r) > countIn(cards, r)) return false;
  const CardCounts rest = cards - c.cards;
  c.attachWidth = attachWidth;
  for (int r = 0; r < RANK_COUNT && rest != 0; ++r) {
    const int n = countIn(rest, r);
    if (attachWidth == 0 || n % attachWidth != 0) return false;
    for (int k = 0; k < n / attachWidth; ++k) {
      if (c.attached == 3) return false;
      c.attach[c.attached++] = r;
    }
  }
  c.length += c.attached * attachWidth;
  c.cards = cards;
  if (c.length != length) return false;
  out = c;
  return true;
}

}  // namespace zelk::plays
