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

// The ranks most cards of a hand are drawn from: `width` neighbours within 3..A.
struct Window {
  int start;
  int width;
};

inline Window randomWindow(std::mt19937& rng) {
  int width = std::uniform_int_distribution<int>(3, 7)(rng);
  return {std::uniform_int_distribution<int>(0, ACE + 1 - width)(rng), width};
}

// A hand from a deck of its own.
inline std::string randomHand(std::mt19937& rng, int minCards, int maxCards, const Window& w) {
  Hand deck = fullDeck(), hand{};
  int n = std::uniform_int_distribution<int>(minCards, maxCards)(rng);
  drawInto(rng, deck, hand, n, w.start, w.width);
  return ascending(hand);
}

inline std::string randomHand(std::mt19937& rng, int minCards, int maxCards) {
  return randomHand(rng, minCards, maxCards, randomWindow(rng));
}

// Two hands from one deck, each of 1 to maxCards cards.
inline std::pair<std::string, std::string> randomDeal(std::mt19937& rng, int maxCards) {
  Hand deck = fullDeck(), u1{}, u2{};
  std::uniform_int_distribution<int> size(1, maxCards);
  Window w = randomWindow(rng);
  drawInto(rng, deck, u1, size(rng), w.start, w.width);
  drawInto(rng, deck, u2, size(rng), w.start, w.width);
  return {ascending(u1), ascending(u2)};
}

// One of the plays that `hand` could lead under these rules, of a
// combination chosen uniformly.
inline Play randomLeadOf(std::mt19937& rng, const Rules& rules, const std::string& hand) {
  std::map<int, std::vector<Play>> byCode;
  for (const Play& p : legalPlays(handOf(hand), Last{}, rules)) byCode[p.code].push_back(p);
  auto it = byCode.begin();
  std::advance(it, std::uniform_int_distribution<std::size_t>(0, byCode.size() - 1)(rng));
  const std::vector<Play>& plays = it->second;
  return plays[std::uniform_int_distribution<std::size_t>(0, plays.size() - 1)(rng)];
}

// A play that some hand drawn around `w` could lead.
inline Play randomLead(std::mt19937& rng, const Rules& rules, const Window& w) {
  return randomLeadOf(rng, rules, randomHand(rng, 1, 18, w));
}

// Nothing to beat a quarter of the time; otherwise a lead from a hand drawn
// anywhere, from around the same ranks as the mover's hand, or from the
// mover's own hand (so that equal and neighbouring runs meet).
inline Play randomPlayToBeat(std::mt19937& rng, const Rules& rules, const Window& moverWindow,
                             const std::string& moverHand) {
  switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
    case 0: return Play{};
    case 1: return randomLead(rng, rules, randomWindow(rng));
    case 2: return randomLead(rng, rules, moverWindow);
    default: return randomLeadOf(rng, rules, moverHand);
  }
}

}  // namespace reference
