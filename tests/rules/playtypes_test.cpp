#include "rules/playtypes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "rules/switches.h"
#include "support/hubcapture.h"

using namespace zelk;
using zelk::testing::HubCapture;

namespace {

struct CmpRow {
  const char* what;
  const char* a;  // candidate
  const char* b;  // play to beat
  int aType;
  int bType;
  int expected;     // 1: a cannot beat b
  bool diagnostic;  // an inconsistent pair of types
};

class CmpPzSmallN : public ::testing::TestWithParam<CmpRow> {};

TEST_P(CmpPzSmallN, DecidesWhetherTheCandidateBeatsThePreviousPlay) {
  const CmpRow& row = GetParam();
  HubCapture hub;
  EXPECT_EQ(cmpPzSmallN(row.a, row.b, row.aType, row.bType), row.expected);
  auto texts = hub.queued();
  if (!row.diagnostic) {
    EXPECT_TRUE(texts.empty());
    return;
  }
  std::u16string line = formatText(u"cmpPzSmallN:异常..\ta[%s]  b[%s] aType %d bType %d\r\n", row.a,
                                   row.b, row.aType, row.bType);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], line);
  EXPECT_EQ(hub.console().output(), line);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CmpPzSmallN,
    ::testing::Values(
        CmpRow{"lead_anything", "3", "", TYPE_G, TYPE_PASS, 0, false},
        CmpRow{"lead_a_bomb", "3333", "", TYPE_ZD, TYPE_PASS, 0, false},
        CmpRow{"single_higher", "6", "5", TYPE_G, TYPE_G, 0, false},
        CmpRow{"single_equal", "5", "5", TYPE_G, TYPE_G, 1, false},
        CmpRow{"single_lower", "4", "5", TYPE_G, TYPE_G, 1, false},
        CmpRow{"two_over_ace", "2", "A", TYPE_G, TYPE_G, 0, false},
        CmpRow{"ace_under_two", "A", "2", TYPE_G, TYPE_G, 1, false},
        CmpRow{"big_over_small_joker", "Y", "X", TYPE_G, TYPE_G, 0, false},
        CmpRow{"small_under_big_joker", "X", "Y", TYPE_G, TYPE_G, 1, false},
        CmpRow{"ten_over_nine", "0", "9", TYPE_G, TYPE_G, 0, false},
        CmpRow{"pair", "22", "AA", TYPE_D, TYPE_D, 0, false},
        CmpRow{"three", "444", "333", TYPE_3, TYPE_3, 0, false},
        CmpRow{"straight_higher", "45678", "34567", TYPE_SZ, TYPE_SZ, 0, false},
        CmpRow{"straight_longer", "456789", "34567", TYPE_SZ, TYPE_SZ, 1, false},
        CmpRow{"straight_shorter", "0JQKA", "345678", TYPE_SZ, TYPE_SZ, 1, false},
        CmpRow{"kicker_never_matters", "5553", "4449", TYPE_31, TYPE_31, 0, false},
        CmpRow{"kicker_never_matters_lower", "4449", "5553", TYPE_31, TYPE_31, 1, false},
        CmpRow{"three_with_pair", "55533", "444KK", TYPE_32, TYPE_32, 0, false},
        CmpRow{"four_with_two", "777734", "666699", TYPE_411, TYPE_411, 0, false},
        CmpRow{"four_with_two_pairs", "77773344", "6666QQKK", TYPE_422, TYPE_422, 0, false},
        CmpRow{"airplane_longer", "333444555", "444555", TYPE_F, TYPE_F, 1, false},
        CmpRow{"airplane_higher", "555666", "444555", TYPE_F, TYPE_F, 0, false},
        CmpRow{"airplane_single_wings", "44455533", "333444KA", TYPE_F11, TYPE_F11, 0, false},
        CmpRow{"airplane_single_wings_8_vs_12", "JJJQQQ34", "333444555678", TYPE_F11, TYPE_F11, 1,
               false},
        CmpRow{"airplane_pair_wings", "4445553366", "33344477KK", TYPE_F22, TYPE_F22, 0, false},
        CmpRow{"run_of_pairs", "445566", "334455", TYPE_LD, TYPE_LD, 0, false},
        CmpRow{"run_of_pairs_longer", "44556677", "334455", TYPE_LD, TYPE_LD, 1, false},
        CmpRow{"bomb_over_straight", "3333", "34567", TYPE_ZD, TYPE_SZ, 0, false},
        CmpRow{"bomb_over_pair_of_twos", "3333", "22", TYPE_ZD, TYPE_D, 0, false},
        CmpRow{"bomb_over_airplane_with_wings", "3333", "44455533", TYPE_ZD, TYPE_F11, 0, false},
        CmpRow{"higher_bomb", "4444", "3333", TYPE_ZD, TYPE_ZD, 0, false},
        CmpRow{"lower_bomb", "3333", "4444", TYPE_ZD, TYPE_ZD, 1, false},
        CmpRow{"rocket_over_bomb", "XY", "2222", TYPE_WZ, TYPE_ZD, 0, false},
        CmpRow{"rocket_over_single", "XY", "2", TYPE_WZ, TYPE_G, 0, false},
        CmpRow{"bomb_under_rocket", "2222", "XY", TYPE_ZD, TYPE_WZ, 1, false},
        CmpRow{"single_under_rocket", "Y", "XY", TYPE_G, TYPE_WZ, 1, false},
        CmpRow{"other_type_on_ordinary_play", "34567", "33", TYPE_SZ, TYPE_D, 0, true},
        CmpRow{"ordinary_play_on_bomb", "Y", "3333", TYPE_G, TYPE_ZD, 0, true},
        CmpRow{"unknown_type_to_beat", "3", "4", TYPE_G, 42, 0, true}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Pt2Str, NamesEveryTypeAndFlagsUnknownCodes) {
  const std::u16string names[15] = {
      u"过",       u"个子",     u"对子", u"三个",           u"三带一",         u"三带二",
      u"四带两个", u"四带两对", u"飞机", u"飞机带个子翅膀", u"飞机带对子翅膀", u"顺子",
      u"连对",     u"炸弹",     u"王炸"};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(pt2Str(ALL_PLAY_TYPES[i]), names[i]) << ALL_PLAY_TYPES[i];
  for (int code : {42, -1, 3, 54, 100})
    EXPECT_EQ(std::u16string(pt2Str(code)), u"pt2Str:异常，牌型未知") << code;
}

TEST(RuleSwitches, ThirteenDistinctFlagsAllOnAfterReset) {
  std::set<const Flag*> flags;
  for (const RuleSwitch& s : RULE_SWITCHES) {
    flags.insert(s.flag);
    setFlag(*s.flag, 0);
  }
  EXPECT_EQ(flags.size(), 13u);
  EXPECT_EQ(flags.count(&F_DEBUG) + flags.count(&F_LOG) + flags.count(&F_U1F), 0u);
  resetRuleSwitches();
  for (const RuleSwitch& s : RULE_SWITCHES) EXPECT_TRUE(on(*s.flag)) << s.name;
}

}  // namespace
