// Codes and fixed limits shared by every subsystem.
#pragma once

#include <cstdint>

namespace zelk {

// Most cards a hand can hold; every card string field is MAXPN + 1 bytes.
inline constexpr int MAXPN = 22;
inline constexpr int CARD_FIELD = MAXPN + 1;

// Play-type codes, grouped by family in steps of ten; the gaps carry no type.
enum PlayType : int32_t {
  TYPE_PASS = 0,  // no play: a pass, or nothing to beat
  TYPE_G = 1,     // single
  TYPE_D = 2,     // pair
  TYPE_3 = 30,    // three of a rank
  TYPE_31 = 31,   // three with a single
  TYPE_32 = 32,   // three with a pair
  TYPE_411 = 41,  // four with two cards
  TYPE_422 = 43,  // four with two pairs
  TYPE_F = 51,    // airplane: consecutive triples
  TYPE_F11 = 52,  // airplane with single wings
  TYPE_F22 = 53,  // airplane with pair wings
  TYPE_SZ = 61,   // straight
  TYPE_LD = 71,   // run of pairs
  TYPE_ZD = 81,   // bomb
  TYPE_WZ = 91,   // rocket
};

// Result characters of a position.
inline constexpr char RESULT_U1 = '1';
inline constexpr char RESULT_U2 = '2';
inline constexpr char RESULT_OPEN = '3';
inline constexpr char RESULT_STOPPED = 1;  // the byte 1: search cut short by a stop

}  // namespace zelk
