#include "rules/cards.h"

#include <algorithm>
#include <cstring>

#include "base/output.h"

namespace zelk {

int c2sn(int card) {
  int r = rankOf(card);
  if (r >= 0) return r;
  ConsolePrint(0, u"c2sn:[%c]\r\n", static_cast<char16_t>(static_cast<unsigned char>(card)));
  return 0;
}

void del_1(char* cards, char card) {
  if (char* p = std::strchr(cards, card); p && card != '\0') {
    std::memmove(p, p + 1, std::strlen(p + 1) + 1);
    return;
  }
  ConsolePrint(0, u"del_1:[%s][%c]\r\n", cards, card);
}

void sortCardsAsc(std::string& cards) { std::sort(cards.begin(), cards.end(), rankAsc); }

std::u16string sortCardsDesc(std::u16string_view text) {
  std::u16string out(text);
  std::sort(out.begin(), out.end(), rankDesc);
  return out;
}

std::u16string dropChars(std::u16string_view text, std::u16string_view set) {
  std::u16string out;
  for (char16_t c : text)
    if (set.find(c) == std::u16string_view::npos) out.push_back(c);
  return out;
}

bool checkHand(std::u16string_view text, std::u16string& message) {
  bool ok = true;
  const std::u16string_view order = u"34567890JQKA2XY";
  std::u16string foreign = dropChars(text, order);
  if (!foreign.empty()) {
    message = formatText(u"输入范围之外的字符(%s)", foreign);
    ok = false;
  }
  for (char16_t card : order) {
    auto count = std::count(text.begin(), text.end(), card);
    if (count > 4) {
      message = formatText(u"%c超过了4张", card);
      ok = false;
    }
  }
  auto small = std::count(text.begin(), text.end(), u'X');
  if (small > 1) {
    message = formatText(u"输入了%d张小王，最多只能1张小王", static_cast<long long>(small));
    ok = false;
  }
  auto big = std::count(text.begin(), text.end(), u'Y');
  if (big > 1) {
    message = formatText(u"输入了%d张大王，最多只能1张大王", static_cast<long long>(big));
    ok = false;
  }
  return ok;
}

std::u16string normaliseTyped(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c == u' ') continue;
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    out.push_back(c);
  }
  return out;
}

}  // namespace zelk
