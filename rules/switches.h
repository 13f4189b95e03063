// Process-wide rule switches.
//
// Every reader loads the current value at the moment of use, from any thread,
// so the flags are relaxed atomics: as cheap as plain loads, free of data races.
#pragma once

#include <cstdint>

#include "base/flags.h"

namespace zelk {

// Rule switches: 1 enables the play type, default 1.
extern Flag F_TYPE_D;
extern Flag F_TYPE_3;
extern Flag F_TYPE_31;
extern Flag F_TYPE_32;
extern Flag F_TYPE_SZ;
extern Flag F_TYPE_LD;
extern Flag F_TYPE_ZD;
extern Flag F_TYPE_WZ;
extern Flag F_TYPE_411;
extern Flag F_TYPE_422;
extern Flag F_TYPE_F;
extern Flag F_TYPE_F11;
extern Flag F_TYPE_F22;

// One rule switch as the settings store and the command line name it.
struct RuleSwitch {
  Flag* flag;
  const char* name;    // settings entry, e.g. "F_TYPE_ZD"
  const char* suffix;  // command-line name, e.g. "ZD"
  const char16_t* caption;
  const char16_t* message;  // handler message, "F_TYPE_ZD  = %d \r\n"
};

// The thirteen rule switches in the order the dialog reads them from the settings.
inline constexpr int RULE_SWITCH_COUNT = 13;
extern const RuleSwitch RULE_SWITCHES[RULE_SWITCH_COUNT];

// Sets every rule switch to 1 (tests and fresh starts).
void resetRuleSwitches();

// The thirteen switches as bits of one word, for a search that reads them
// once and hands them down instead of loading thirteen flags at every node.
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
  R_SEQUENCES = R_SZ | R_LD | R_F | R_F11 | R_F22,  // the kinds of consecutive ranks
};

// The switches as they are now.
Rules currentRules();
// Sets the switches from bits (tests, benchmarks, the batch's per-line switches).
void applyRules(Rules rules);

}  // namespace zelk
