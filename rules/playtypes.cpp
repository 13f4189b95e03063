#include "rules/playtypes.h"

#include <cstring>

#include "base/output.h"
#include "rules/cards.h"

namespace zelk {

const char16_t* pt2Str(int type) {
  switch (type) {
    case TYPE_PASS: return u"过";
    case TYPE_G: return u"个子";
    case TYPE_D: return u"对子";
    case TYPE_3: return u"三个";
    case TYPE_31: return u"三带一";
    case TYPE_32: return u"三带二";
    case TYPE_411: return u"四带两个";
    case TYPE_422: return u"四带两对";
    case TYPE_F: return u"飞机";
    case TYPE_F11: return u"飞机带个子翅膀";
    case TYPE_F22: return u"飞机带对子翅膀";
    case TYPE_SZ: return u"顺子";
    case TYPE_LD: return u"连对";
    case TYPE_ZD: return u"炸弹";
    case TYPE_WZ: return u"王炸";
    default: return u"pt2Str:异常，牌型未知";
  }
}

namespace {

int sameType(const char* a, const char* b) {
  if (std::strlen(a) != std::strlen(b)) return 1;
  return c2sn(static_cast<unsigned char>(a[0])) > c2sn(static_cast<unsigned char>(b[0])) ? 0 : 1;
}

int inconsistent(const char* a, const char* b, int aType, int bType) {
  ConsolePrint(0, u"cmpPzSmallN:异常..\ta[%s]  b[%s] aType %d bType %d\r\n", a, b, aType, bType);
  return 0;
}

}  // namespace

int cmpPzSmallN(const char* a, const char* b, int aType, int bType) {
  switch (bType) {
    case TYPE_PASS: return 0;
    case TYPE_G:
    case TYPE_D:
    case TYPE_3:
    case TYPE_31:
    case TYPE_32:
    case TYPE_411:
    case TYPE_422:
    case TYPE_F:
    case TYPE_F11:
    case TYPE_F22:
    case TYPE_SZ:
    case TYPE_LD:
      if (aType == bType) return sameType(a, b);
      if (aType == TYPE_ZD || aType == TYPE_WZ) return 0;
      return inconsistent(a, b, aType, bType);
    case TYPE_ZD:
      if (aType == TYPE_ZD) return sameType(a, b);
      if (aType == TYPE_WZ) return 0;
      return inconsistent(a, b, aType, bType);
    case TYPE_WZ: return 1;
    default: return inconsistent(a, b, aType, bType);
  }
}

}  // namespace zelk
