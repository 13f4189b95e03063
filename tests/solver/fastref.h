// A slow reference for the fast engine's tests: the canonical enumeration
// written position by position over card strings, with the sibling duplicate
// check done by comparing sorted card strings, and a plain memoised AND-OR
// search over it. It shares no code with the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelk::ref {

struct Play {
  std::string cards;  // as written into lastPlay
  int type = 0;
};

// Legal plays of the sorted hand H against (L, T), in canonical order; the
// pass last when T != 0. rules: bit i = RULE order D 3 SZ 31 32 411 422 LD F F11 F22 ZD WZ
// as in fast::Rules (R_D = bit 0 ...).
std::vector<Play> generate(const std::string& H, const std::string& L, int T, uint16_t rules);

// '1' or '2': who wins with perfect play.
char solve(const std::string& u1, const std::string& u2, const std::string& L, int T, char turn,
           uint16_t rules);

// The first play in canonical order that wins for the mover; empty type -1 when none.
Play firstWinningPlay(const std::string& u1, const std::string& u2, const std::string& L, int T,
                      char turn, uint16_t rules, bool& found);

}  // namespace zelk::ref
