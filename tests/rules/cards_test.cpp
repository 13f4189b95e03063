#include "rules/cards.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/text.h"
#include "rules/types.h"
#include "support/hubcapture.h"

using namespace zelk;
using zelk::testing::HubCapture;

namespace {

struct HandRow {
  const char* what;
  std::u16string typed;
  bool legal;
  std::u16string message;  // what the caller sees on failure
};

class CheckHand : public ::testing::TestWithParam<HandRow> {};

TEST_P(CheckHand, AcceptsOrGivesTheMessageOfTheLastFailingCheck) {
  const HandRow& row = GetParam();
  std::u16string message = u"untouched";
  EXPECT_EQ(checkHand(row.typed, message), row.legal);
  EXPECT_EQ(utf16ToUtf8(message), utf16ToUtf8(row.legal ? u"untouched" : row.message));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CheckHand,
    ::testing::Values(
        HandRow{"empty", u"", true, u""}, HandRow{"four_threes", u"3333", true, u""},
        HandRow{"every_rank_once", u"YX2AKQJ0987654", true, u""},
        HandRow{"twenty_two_cards", u"YX22AAKKQQJJ0099887766", true, u""},
        HandRow{"foreign_ten_typed_as_10", u"10JQKA", false, u"输入范围之外的字符(1)"},
        HandRow{"foreign_in_order_with_repeats", u"Z3ZbZ", false, u"输入范围之外的字符(ZZbZ)"},
        HandRow{"lower_case_not_normalised", u"jqka", false, u"输入范围之外的字符(jqka)"},
        HandRow{"blank_not_removed", u"3 4", false, u"输入范围之外的字符( )"},
        HandRow{"five_threes", u"33333", false, u"3超过了4张"},
        HandRow{"five_tens", u"00000", false, u"0超过了4张"},
        HandRow{"two_small_jokers", u"XX", false, u"输入了2张小王，最多只能1张小王"},
        HandRow{"two_big_jokers", u"3YY", false, u"输入了2张大王，最多只能1张大王"},
        // Every check runs; the last one that fails writes the message seen.
        HandRow{"five_small_jokers_small_joker_check_wins", u"XXXXX", false,
                u"输入了5张小王，最多只能1张小王"},
        HandRow{"foreign_then_five_threes", u"a33b333", false, u"3超过了4张"},
        HandRow{"five_threes_and_five_fours_later_rank_wins", u"44444333335", false, u"4超过了4张"},
        HandRow{"both_jokers_twice_big_joker_wins", u"XXYY", false,
                u"输入了2张大王，最多只能1张大王"},
        HandRow{"five_big_jokers", u"YYYYY", false, u"输入了5张大王，最多只能1张大王"},
        HandRow{"foreign_then_two_small_jokers", u"1XX", false, u"输入了2张小王，最多只能1张小王"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(CheckHand, TypedTextNormalisedAsTheDialogDoesPasses) {
  std::u16string message;
  std::u16string typed = normaliseTyped(u" j q k a x y 0 ");
  EXPECT_EQ(typed, u"JQKAXY0");
  EXPECT_TRUE(checkHand(typed, message));
}

TEST(Sorting, DescendingTypedFormAndAscendingCardString) {
  EXPECT_EQ(sortCardsDesc(u"3Y0A2X"), u"YX2A03");
  EXPECT_EQ(sortCardsDesc(u"34567890JQKA2XY"),
            u"YX2AKQJ0987654"
            u"3");
  EXPECT_EQ(sortCardsDesc(u""), u"");
  std::string cards = "3Y0A2X";
  sortCardsAsc(cards);
  EXPECT_EQ(cards, "30A2XY");
  cards = "2A3A2K0033";
  sortCardsAsc(cards);
  EXPECT_EQ(cards,
            "333"
            "00KAA22");
  // Characters outside the rank order sort after the big joker.
  EXPECT_TRUE(rankAsc('Y', '?'));
  EXPECT_FALSE(rankAsc('?', 'Y'));
  EXPECT_TRUE(rankDesc(u'?', u'Y'));
}

TEST(C2sn, GivesThePositionInTheRankOrder) {
  HubCapture hub;
  const char* order = "34567890JQKA2XY";
  for (int i = 0; i < 15; ++i) EXPECT_EQ(c2sn(order[i]), i) << order[i];
  EXPECT_EQ(c2sn('0'), 7);
  EXPECT_EQ(c2sn('2'), 12);
  EXPECT_TRUE(hub.queued().empty());
}

TEST(C2sn, ForeignCharacterGivesZeroAndADiagnosticLine) {
  HubCapture hub;
  EXPECT_EQ(c2sn('1'), 0);
  EXPECT_EQ(c2sn('j'), 0);
  auto texts = hub.queued();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], u"c2sn:[1]\r\n");
  EXPECT_EQ(texts[1], u"c2sn:[j]\r\n");
  EXPECT_EQ(hub.console().output(), u"c2sn:[1]\r\nc2sn:[j]\r\n")
      << "card-rule diagnostics reach the console";
}

struct Del1Row {
  const char* what;
  const char* cards;
  char card;
  const char* after;
  std::u16string diagnostic;  // empty when the card was there
};

class Del1 : public ::testing::TestWithParam<Del1Row> {};

TEST_P(Del1, RemovesTheFirstOccurrenceOrLeavesTheStringAndSaysSo) {
  const Del1Row& row = GetParam();
  HubCapture hub;
  char cards[CARD_FIELD] = {};
  std::strcpy(cards, row.cards);
  del_1(cards, row.card);
  EXPECT_STREQ(cards, row.after);
  auto texts = hub.queued();
  if (row.diagnostic.empty()) {
    EXPECT_TRUE(texts.empty());
  } else {
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], row.diagnostic);
    EXPECT_EQ(hub.console().output(), row.diagnostic);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Del1,
    ::testing::Values(Del1Row{"middle", "33445", '4', "3345", u""},
                      Del1Row{"first", "33445", '3', "3445", u""},
                      Del1Row{"last", "3XY", 'Y', "3X", u""}, Del1Row{"only", "A", 'A', "", u""},
                      Del1Row{"full_hand", "33334444555566667788XY", '8', "3333444455556666778XY",
                              u""},
                      Del1Row{"missing", "33445", '6', "33445", u"del_1:[33445][6]\r\n"},
                      Del1Row{"empty_hand", "", '3', "", u"del_1:[][3]\r\n"},
                      Del1Row{"terminator_is_no_card", "33", '\0', "33", u"del_1:[33][]\r\n"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(DropChars, KeepsOrderAndRepeatsOfWhatIsLeft) {
  EXPECT_EQ(dropChars(u"10JQKA", u"34567890JQKA2XY"), u"1");
  EXPECT_EQ(dropChars(u"abcabc", u"b"), u"acac");
  EXPECT_EQ(dropChars(u"abc", u""), u"abc");
  EXPECT_EQ(dropChars(u"", u"abc"), u"");
  EXPECT_EQ(dropChars(u"过过3", u"3"), u"过过");
}

}  // namespace
