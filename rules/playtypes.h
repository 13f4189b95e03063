// Play types: their names and which play beats which.
#pragma once

#include <string>

#include "rules/types.h"

namespace zelk {

// Printed name of a play-type code; "pt2Str:异常，牌型未知" for a code outside the table.
const char16_t* pt2Str(int type);

// 1 when play a (of type aType) cannot beat play b (of type bType), 0 when it
// beats b or there is nothing to beat. The deciding rank is a play's first card.
int cmpPzSmallN(const char* a, const char* b, int aType, int bType);

// The fifteen codes in table order.
inline constexpr int ALL_PLAY_TYPES[15] = {TYPE_PASS, TYPE_G,   TYPE_D,   TYPE_3,  TYPE_31,
                                           TYPE_32,   TYPE_411, TYPE_422, TYPE_F,  TYPE_F11,
                                           TYPE_F22,  TYPE_SZ,  TYPE_LD,  TYPE_ZD, TYPE_WZ};

}  // namespace zelk
