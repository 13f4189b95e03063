// An independent statement of the rules, for tests only.
//
// It shares nothing with the generator or the solver: instead of cutting
// candidates from templates in a fixed order, it takes every sub-multiset of
// a hand and asks which combinations that set of cards forms. It is slow and
// plain on purpose; the tests compare the real engines against it.
//
// The rules it states:
//  - the shapes of the combination types, each enabled by its switch
//    (singles and passing are always allowed);
//  - leading (any enabled combination, no pass) and replying (the same type
//    with as many cards and a higher deciding rank, any bomb over an ordinary
//    play, a higher bomb over a bomb, the rocket over anything, or a pass);
//  - one play per set of cards: when a set of cards forms several
//    combinations, the play is the first one in the canonical kind order
//    that is legal here (so a four-triple airplane hides the three-triple
//    airplane with single wings made of the same cards, and of two ways to
//    read those cards as an airplane with single wings, the lower run wins
//    unless only the higher one beats the play to beat);
//  - the game: the first player to empty the hand wins; player1's empty hand
//    is tested first.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace reference {

// Rank order, lowest first; the index is the rank.
inline constexpr char CARDS[] = "34567890JQKA2XY";
inline constexpr int RANKS = 15;
inline constexpr int ACE = 11;  // runs stop here
inline constexpr int TWO = 12;
inline constexpr int SMALL_JOKER = 13;
inline constexpr int BIG_JOKER = 14;

inline int rankOfCard(char c) {
  for (int r = 0; r < RANKS; ++r)
    if (CARDS[r] == c) return r;
  return -1;
}

// How many cards of each rank.
using Hand = std::array<int, RANKS>;

inline Hand handOf(const std::string& cards) {
  Hand h{};
  for (char c : cards) ++h[rankOfCard(c)];
  return h;
}

inline int sizeOf(const Hand& h) {
  int n = 0;
  for (int c : h) n += c;
  return n;
}

inline std::string ascending(const Hand& h) {
  std::string s;
  for (int r = 0; r < RANKS; ++r) s.append(h[r], CARDS[r]);
  return s;
}

// Combination codes (the game's numbering).
enum Code : int {
  PASS = 0,
  SINGLE = 1,
  PAIR = 2,
  THREE = 30,
  THREE_SINGLE = 31,
  THREE_PAIR = 32,
  FOUR_TWO = 41,
  FOUR_PAIRS = 43,
  PLANE = 51,
  PLANE_SINGLES = 52,
  PLANE_PAIRS = 53,
  STRAIGHT = 61,
  PAIR_RUN = 71,
  BOMB = 81,
  ROCKET = 91,
};

// Which combination types are enabled; singles and passes always are.
struct Rules {
  bool pair = true, three = true, threeSingle = true, threePair = true, straight = true,
       pairRun = true, bomb = true, rocket = true, fourTwo = true, fourPairs = true, plane = true,
       planeSingles = true, planePairs = true;

  bool allows(int code) const {
    switch (code) {
      case PAIR: return pair;
      case THREE: return three;
      case THREE_SINGLE: return threeSingle;
      case THREE_PAIR: return threePair;
      case FOUR_TWO: return fourTwo;
      case FOUR_PAIRS: return fourPairs;
      case PLANE: return plane;
      case PLANE_SINGLES: return planeSingles;
      case PLANE_PAIRS: return planePairs;
      case STRAIGHT: return straight;
      case PAIR_RUN: return pairRun;
      case BOMB: return bomb;
      case ROCKET: return rocket;
      default: return true;
    }
  }
};

// One play: its cards, its combination, and the rank that a reply of the
// same combination must exceed (the run's lowest rank, or the rank of the
// three or four that carries the attached cards).
struct Play {
  Hand cards{};
  int code = PASS;
  int rank = -1;
  int size = 0;
  int runLength = 0;  // triples of an airplane with wings: where its wings start in the text

  // The cards as the game writes them: the deciding part first (ascending),
  // then the attached cards ascending.
  std::string text() const {
    std::string main, rest;
    Hand left = cards;
    auto take = [&](int r, int n) {
      main.append(n, CARDS[r]);
      left[r] -= n;
    };
    switch (code) {
      case THREE_SINGLE:
      case THREE_PAIR: take(rank, 3); break;
      case FOUR_TWO:
      case FOUR_PAIRS: take(rank, 4); break;
      case PLANE_SINGLES:
      case PLANE_PAIRS:
        for (int t = 0; t < runLength; ++t) take(rank + t, 3);
        break;
      default: break;
    }
    return main + ascending(left);
  }
};

// A combination that a set of cards can form: code and deciding rank.
struct Reading {
  int code;
  int rank;
  int runLength;
};

// The combinations that one set of cards forms (at most a handful).
struct Readings {
  std::array<Reading, 8> items;
  int count = 0;
  void add(int code, int rank, int runLength = 0) { items[count++] = {code, rank, runLength}; }
  const Reading* begin() const { return items.data(); }
  const Reading* end() const { return items.data() + count; }
};

// Every combination that `c` (n cards) forms, in the canonical kind order:
// pair, three, straight, three with a single, three with a pair, four with
// two, four with two pairs, run of pairs, airplane, airplane with single
// wings (two triples, then three; lower runs first), airplane with pair
// wings, bomb, rocket, single.
inline Readings readings(const Hand& c, int n) {
  Readings out;
  if (n == 0) return out;
  int lowest = -1, highest = -1, ranks = 0;
  int withCount[5] = {0, 0, 0, 0, 0};  // ranks held exactly k times
  int rankWith[5] = {-1, -1, -1, -1, -1};
  for (int r = 0; r < RANKS; ++r) {
    if (!c[r]) continue;
    if (lowest < 0) lowest = r;
    highest = r;
    ++ranks;
    ++withCount[c[r]];
    if (rankWith[c[r]] < 0) rankWith[c[r]] = r;
  }
  // All held ranks form one block of consecutive ranks within 3..A, each
  // held exactly `each` times.
  auto run = [&](int each) {
    return highest <= ACE && ranks == highest - lowest + 1 && withCount[each] == ranks;
  };
  // `triples` consecutive ranks from a, within 3..A, each held exactly three times.
  auto tripleRun = [&](int a, int triples) {
    if (a + triples - 1 > ACE) return false;
    for (int t = 0; t < triples; ++t)
      if (c[a + t] != 3) return false;
    return true;
  };

  if (n == 2 && ranks == 1 && lowest <= TWO) out.add(PAIR, lowest);
  if (n == 3 && ranks == 1) out.add(THREE, lowest);
  if (n >= 5 && n <= 12 && run(1)) out.add(STRAIGHT, lowest);
  if (n == 4 && rankWith[3] >= 0) out.add(THREE_SINGLE, rankWith[3]);
  if (n == 5 && ranks == 2 && rankWith[3] >= 0 && rankWith[2] >= 0 && rankWith[2] <= TWO)
    out.add(THREE_PAIR, rankWith[3]);
  if (n == 6 && rankWith[4] >= 0) out.add(FOUR_TWO, rankWith[4]);
  if (n == 8 && ranks == 3 && rankWith[4] >= 0 && withCount[2] == 2 && highest <= TWO)
    out.add(FOUR_PAIRS, rankWith[4]);
  if (n % 2 == 0 && n >= 6 && n <= 20 && run(2)) out.add(PAIR_RUN, lowest);
  if (n % 3 == 0 && n >= 6 && n <= 21 && run(3)) out.add(PLANE, lowest);
  // Airplanes with wings: the cards outside the run are the wings.
  for (int triples = 2; triples <= 3; ++triples) {
    if (n != 4 * triples) continue;
    for (int a = 0; a <= ACE; ++a)
      if (tripleRun(a, triples)) out.add(PLANE_SINGLES, a, triples);
  }
  for (int triples = 2; triples <= 3; ++triples) {
    if (n != 5 * triples) continue;
    for (int a = 0; a <= ACE; ++a) {
      if (!tripleRun(a, triples)) continue;
      // The rest: `triples` pairs of different ranks, none a joker.
      int pairs = 0;
      bool ok = true;
      for (int r = 0; r < RANKS; ++r) {
        if (r >= a && r < a + triples) continue;
        if (c[r] == 2 && r <= TWO)
          ++pairs;
        else if (c[r] != 0)
          ok = false;
      }
      if (ok && pairs == triples) out.add(PLANE_PAIRS, a, triples);
    }
  }
  if (n == 4 && ranks == 1 && lowest <= TWO) out.add(BOMB, lowest);
  if (n == 2 && c[SMALL_JOKER] == 1 && c[BIG_JOKER] == 1) out.add(ROCKET, SMALL_JOKER);
  if (n == 1) out.add(SINGLE, lowest);
  return out;
}

// The play to beat: its combination, deciding rank and number of cards
// (code PASS: the mover leads).
struct Last {
  int code = PASS;
  int rank = -1;
  int size = 0;
};

inline Last lastOf(const Play& p) { return {p.code, p.rank, p.size}; }

// Whether a reading of `size` cards may be played on `last`.
inline bool legalOn(const Reading& r, int size, const Last& last) {
  if (last.code == PASS) return true;
  if (r.code == ROCKET) return true;  // the generator offers the rocket on anything
  if (last.code == ROCKET) return false;
  if (r.code == BOMB) return last.code != BOMB || r.rank > last.rank;
  return r.code == last.code && size == last.size && r.rank > last.rank;
}

// The legal plays of `hand` on `last`: one per set of cards, the first
// legal reading in the canonical kind order; then the pass when there is a
// play to beat. Sets are visited in no particular order.
inline std::vector<Play> legalPlays(const Hand& hand, const Last& last, const Rules& rules) {
  std::vector<Play> out;
  Hand pick{};
  // Odometer over the sub-multisets.
  for (;;) {
    int n = sizeOf(pick);
    if (n > 0) {
      for (const Reading& r : readings(pick, n)) {
        if (!rules.allows(r.code) || !legalOn(r, n, last)) continue;
        Play p;
        p.cards = pick;
        p.code = r.code;
        p.rank = r.rank;
        p.size = n;
        p.runLength = r.runLength;
        out.push_back(p);
        break;
      }
    }
    int r = 0;
    while (r < RANKS && pick[r] == hand[r]) pick[r++] = 0;
    if (r == RANKS) break;
    ++pick[r];
  }
  if (last.code != PASS) out.push_back(Play{});
  return out;
}

inline Hand minus(const Hand& a, const Hand& b) {
  Hand h{};
  for (int r = 0; r < RANKS; ++r) h[r] = a[r] - b[r];
  return h;
}

// Memoised minimax over positions (both hands, play to beat, mover).
class Game {
 public:
  explicit Game(const Rules& rules) : rules_(rules) {}

  // '1' or '2': who wins with perfect play. player2 is `turn` '2'.
  char winner(const Hand& u1, const Hand& u2, const Last& last, char turn) {
    if (sizeOf(u1) == 0) return '1';
    if (sizeOf(u2) == 0) return '2';
    Key key = keyOf(u1, u2, last, turn);
    if (auto it = memo_.find(key); it != memo_.end()) return it->second;
    const Hand& mover = turn == '2' ? u2 : u1;
    const char other = turn == '2' ? '1' : '2';
    char value = other;
    for (const Play& p : legalPlays(mover, last, rules_)) {
      Hand left = minus(mover, p.cards);
      char v =
          turn == '2' ? winner(u1, left, lastOf(p), other) : winner(left, u2, lastOf(p), other);
      if (v == turn) {
        value = turn;
        break;
      }
    }
    memo_.emplace(key, value);
    return value;
  }

  std::size_t positions() const { return memo_.size(); }

 private:
  struct Key {
    uint64_t hands;  // 3 bits per rank and player
    uint64_t rest;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const {
      return std::hash<uint64_t>()(k.hands * 0x9E3779B97F4A7C15ull ^ k.rest);
    }
  };
  static Key keyOf(const Hand& u1, const Hand& u2, const Last& last, char turn) {
    Key k{0, 0};
    for (int r = 0; r < RANKS; ++r) {
      k.hands = k.hands << 3 | static_cast<uint64_t>(u1[r]);
    }
    for (int r = 0; r < RANKS; ++r) k.rest = k.rest << 3 | static_cast<uint64_t>(u2[r]);
    k.rest = k.rest << 7 | static_cast<uint64_t>(last.code);
    k.hands = k.hands << 5 | static_cast<uint64_t>(last.rank + 1);
    k.hands = k.hands << 5 | static_cast<uint64_t>(last.size);
    k.hands = k.hands << 1 | (turn == '2' ? 1u : 0u);
    return k;
  }

  Rules rules_;
  std::unordered_map<Key, char, KeyHash> memo_;
};

// Number of positions at each depth 1..depth below (u1, u2) with player2 to
// lead, following every legal play and pass; a position with an empty hand
// has no children.
inline void countTree(const Hand& u1, const Hand& u2, const Last& last, char turn,
                      const Rules& rules, std::size_t level, std::vector<int64_t>& counts) {
  if (sizeOf(u1) == 0 || sizeOf(u2) == 0) return;
  const Hand& mover = turn == '2' ? u2 : u1;
  const char other = turn == '2' ? '1' : '2';
  for (const Play& p : legalPlays(mover, last, rules)) {
    ++counts[level];
    if (level + 1 >= counts.size()) continue;
    Hand left = minus(mover, p.cards);
    if (turn == '2')
      countTree(u1, left, lastOf(p), other, rules, level + 1, counts);
    else
      countTree(left, u2, lastOf(p), other, rules, level + 1, counts);
  }
}

}  // namespace reference
