// Card notation: the 15 card characters, their rank order, hands.
//
// Inside the card rules a hand or a play is an 8-bit string sorted ascending
// ("34567890JQKA2XY" order), so equal cards are adjacent; the typed form is
// wide text sorted descending.
#pragma once

#include <string>
#include <string_view>

namespace zelk {

inline constexpr char RANK_ORDER[] = "34567890JQKA2XY";
inline constexpr int RANK_COUNT = 15;

// Rank number 0..14 of a card, or -1 for a character that is none.
constexpr int rankOf(int card) {
  switch (card) {
    case '3': return 0;
    case '4': return 1;
    case '5': return 2;
    case '6': return 3;
    case '7': return 4;
    case '8': return 5;
    case '9': return 6;
    case '0': return 7;
    case 'J': return 8;
    case 'Q': return 9;
    case 'K': return 10;
    case 'A': return 11;
    case '2': return 12;
    case 'X': return 13;
    case 'Y': return 14;
    default: return -1;
  }
}

// The rank number of a card; any other character writes "c2sn:[%c]\r\n" and gives 0.
int c2sn(int card);

// Removes the first occurrence of card from the string in place; when it is
// missing, the string stays and "del_1:[%s][%c]\r\n" is written.
void del_1(char* cards, char card);

// Order predicates; a character outside the rank order counts as position 15.
inline bool rankAsc(char a, char b) {
  int ra = rankOf(static_cast<unsigned char>(a)), rb = rankOf(static_cast<unsigned char>(b));
  return (ra < 0 ? 15 : ra) < (rb < 0 ? 15 : rb);
}
inline bool rankDesc(char16_t a, char16_t b) {
  int ra = rankOf(a), rb = rankOf(b);
  return (ra < 0 ? 15 : ra) > (rb < 0 ? 15 : rb);
}

void sortCardsAsc(std::string& cards);
std::u16string sortCardsDesc(std::u16string_view text);

// Validates one typed hand (upper case, blanks removed). On failure the
// message of the last failing check is in `message`; on success it is untouched.
bool checkHand(std::u16string_view text, std::u16string& message);

// text without any character that occurs in set.
std::u16string dropChars(std::u16string_view text, std::u16string_view set);

// What the dialog does to a typed hand before validating it: upper case, blanks removed.
std::u16string normaliseTyped(std::u16string_view text);

}  // namespace zelk
