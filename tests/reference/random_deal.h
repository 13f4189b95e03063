// Random positions for the cross-checks against the reference.
//
// Hands are drawn mostly from a narrow window of neighbouring ranks, so that
// pairs, threes, fours and runs (the cases where the rules are intricate)
// turn up often even in small hands.
#pragma once

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "reference/bruteforce.h"

namespace reference {

// Switch mask bits, lowest first: pair, three, three with a single, three
// with a pair, straight, run of pairs, bomb, rocket, four with two, four
// with two pairs, airplane, airplane with single wings, airplane with pair
// wings.
inline constexpr unsigned ALL_SWITCHES = (1u << 13) - 1;

inline Rules rulesOf(unsigned mask) {
  auto bit = [mask](int i) { return ((mask >> i) & 1u) != 0; };
  Rules r;
  r.pair = bit(0);
  r.three = bit(1);
  r.threeSingle = bit(2);
  r.threePair = bit(3);
  r.straight = bit(4);
  r.pairRun = bit(5);
  r.bomb = bit(6);
  r.rocket = bit(7);
  r.fourTwo = bit(8);
  r.fourPairs = bit(9);
  r.plane = bit(10);
  r.planeSingles = bit(11);
  r.planePairs = bit(12);
  return r;
}

inline unsigned randomSwitches(std::mt19937& rng) {
  int kind = std::uniform_int_distribution<int>(0, 15)(rng);
  if (kind < 2) return ALL_SWITCHES;
  if (kind == 2) return 0;
  unsigned mask = 0;
  std::bernoulli_distribution on(0.65);
  for (int i = 0; i < 13; ++i)
    if (on(rng)) mask |= 1u << i;
  return mask;
}

// Adds `n` cards to `hand`, taking no rank past what `deck` has left.
inline void drawInto(std::mt19937& rng, Hand& deck, Hand& hand, int n, int windowStart,
                     int windowWidth) {
  std::bernoulli_distribution inWindow(0.8);
  std::uniform_int_distribution<int> anyRank(0, RANKS - 1);
  std::uniform_int_distribution<int> windowRank(windowStart, windowStart + windowWidth - 1);
  for (int drawn = 0, tries = 0; drawn < n && tries < 1000; ++tries) {
    int r = inWindow(rng) ? windowRank(rng) : anyRank(rng);
    if (deck[r] == 0) continue;
    --deck[r];
    ++hand[r];
    ++drawn;
  }
}

inline Hand fullDeck() {
  Hand deck{};
  for (int r = 0; r < RANKS; ++r) deck[r] = r >= SMALL_JOKER ? 1 : 4;
  return deck;
}

inline std::string randomHand(std::mt19937& rng, int minCards, int maxCards) {
  Hand deck = fullDeck(), hand{};
  int n = std::uniform_int_distribution<int>(minCards, maxCards)(rng);
  int width = std::uniform_int_distribution<int>(3, 7)(rng);
  int start = std::uniform_int_distribution<int>(0, ACE + 1 - width)(rng);
  drawInto(rng, deck, hand, n, start, width);
  return ascending(hand);
}

// Two hands from one deck, each of 1 to maxCards cards.
inline std::pair<std::string, std::string> randomDeal(std::mt19937& rng, int maxCards) {
  Hand deck = fullDeck(), u1{}, u2{};
  std::uniform_int_distribution<int> size(1, maxCards);
  int width = std::uniform_int_distribution<int>(3, 6)(rng);
  int start = std::uniform_int_distribution<int>(0, ACE + 1 - width)(rng);
  drawInto(rng, deck, u1, size(rng), start, width);
  drawInto(rng, deck, u2, size(rng), start, width);
  return {ascending(u1), ascending(u2)};
}

// Nothing to beat a quarter of the time; otherwise a play that some hand
// could lead under these rules, of a combination chosen uniformly.
inline Play randomPlayToBeat(std::mt19937& rng, const Rules& rules) {
  if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) return Play{};
  std::map<int, std::vector<Play>> byCode;
  for (const Play& p : legalPlays(handOf(randomHand(rng, 1, 16)), Last{}, rules))
    byCode[p.code].push_back(p);
  auto it = byCode.begin();
  std::advance(it, std::uniform_int_distribution<std::size_t>(0, byCode.size() - 1)(rng));
  const std::vector<Play>& plays = it->second;
  return plays[std::uniform_int_distribution<std::size_t>(0, plays.size() - 1)(rng)];
}

}  // namespace reference
