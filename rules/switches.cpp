#include "rules/switches.h"

namespace zelk {

Flag F_TYPE_D{1};
Flag F_TYPE_3{1};
Flag F_TYPE_31{1};
Flag F_TYPE_32{1};
Flag F_TYPE_SZ{1};
Flag F_TYPE_LD{1};
Flag F_TYPE_ZD{1};
Flag F_TYPE_WZ{1};
Flag F_TYPE_411{1};
Flag F_TYPE_422{1};
Flag F_TYPE_F{1};
Flag F_TYPE_F11{1};
Flag F_TYPE_F22{1};

const RuleSwitch RULE_SWITCHES[RULE_SWITCH_COUNT] = {
    {&F_TYPE_D, "F_TYPE_D", "D", u"对子", u"F_TYPE_D   = %d \r\n"},
    {&F_TYPE_3, "F_TYPE_3", "3", u"三个", u"F_TYPE_3   = %d \r\n"},
    {&F_TYPE_31, "F_TYPE_31", "31", u"三带一个", u"F_TYPE_31  = %d \r\n"},
    {&F_TYPE_32, "F_TYPE_32", "32", u"三带一对", u"F_TYPE_32  = %d \r\n"},
    {&F_TYPE_411, "F_TYPE_411", "411", u"四带二个或一对", u"F_TYPE_411 = %d \r\n"},
    {&F_TYPE_422, "F_TYPE_422", "422", u"四带二对", u"F_TYPE_422 = %d \r\n"},
    {&F_TYPE_F, "F_TYPE_F", "F", u"飞机", u"F_TYPE_F   = %d \r\n"},
    {&F_TYPE_F11, "F_TYPE_F11", "F11", u"飞机带个子翅膀", u"F_TYPE_F11 = %d \r\n"},
    {&F_TYPE_F22, "F_TYPE_F22", "F22", u"飞机带对子翅膀", u"F_TYPE_F22 = %d \r\n"},
    {&F_TYPE_SZ, "F_TYPE_SZ", "SZ", u"顺子", u"F_TYPE_SZ  = %d \r\n"},
    {&F_TYPE_LD, "F_TYPE_LD", "LD", u"连对", u"F_TYPE_LD  = %d \r\n"},
    {&F_TYPE_ZD, "F_TYPE_ZD", "ZD", u"炸弹", u"F_TYPE_ZD  = %d \r\n"},
    {&F_TYPE_WZ, "F_TYPE_WZ", "WZ", u"王炸", u"F_TYPE_WZ  = %d \r\n"},
};

void resetRuleSwitches() {
  for (const RuleSwitch& s : RULE_SWITCHES) setFlag(*s.flag, 1);
}

namespace {

// Each switch's bit in Rules.
struct SwitchBit {
  Flag* flag;
  Rules bit;
};
const SwitchBit SWITCH_BITS[RULE_SWITCH_COUNT] = {
    {&F_TYPE_D, R_D},     {&F_TYPE_3, R_3},     {&F_TYPE_31, R_31}, {&F_TYPE_32, R_32},
    {&F_TYPE_SZ, R_SZ},   {&F_TYPE_LD, R_LD},   {&F_TYPE_ZD, R_ZD}, {&F_TYPE_WZ, R_WZ},
    {&F_TYPE_411, R_411}, {&F_TYPE_422, R_422}, {&F_TYPE_F, R_F},   {&F_TYPE_F11, R_F11},
    {&F_TYPE_F22, R_F22},
};

}  // namespace

Rules currentRules() {
  Rules r = 0;
  for (const SwitchBit& s : SWITCH_BITS)
    if (on(*s.flag)) r |= s.bit;
  return r;
}

void applyRules(Rules rules) {
  for (const SwitchBit& s : SWITCH_BITS) setFlag(*s.flag, (rules & s.bit) ? 1 : 0);
}

}  // namespace zelk
