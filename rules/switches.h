// Process-wide rule switches.
//
// Every reader loads the current value at the moment of use, from any thread,
// so the flags are relaxed atomics: as cheap as plain loads, free of data races.
#pragma once

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

}  // namespace zelk
