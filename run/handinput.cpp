#include "run/handinput.h"

#include "base/format.h"
#include "rules/cards.h"
#include "rules/types.h"

namespace zelk {

bool acceptHands(std::u16string& player1, std::u16string& player2, std::u16string& boxText) {
  std::u16string a = normaliseTyped(player1);
  std::u16string b = normaliseTyped(player2);
  std::u16string reason;
  if (!checkHand(a, reason)) {
    boxText = formatText(u"玩家1的牌不合法!\r\n因为[%s]!请重新输入!!!\r\n", reason);
    return false;
  }
  if (!checkHand(b, reason)) {
    boxText = formatText(u"玩家2的牌不合法!\r\n因为[%s]!请重新输入!!!\r\n", reason);
    return false;
  }
  auto na = static_cast<int>(a.size()), nb = static_cast<int>(b.size());
  if (na < 1 || nb < 1) {
    boxText = formatText(u"每个玩家的牌太少!!!\r\n请重新输入!!![%d][%d]\r\n", na, nb);
    return false;
  }
  if (na > MAXPN || nb > MAXPN) {
    boxText =
        formatText(u"每个玩家的牌不能超过%d张!!!\r\n请重新输入!!![%d][%d]\r\n", MAXPN, na, nb);
    return false;
  }
  player1 = sortCardsDesc(a);
  player2 = sortCardsDesc(b);
  return true;
}

}  // namespace zelk
