#include "rules/playparse.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/types.h"

using namespace zelk;

namespace {

struct ParseRow {
  const char* what;
  const char* cards;
  const char* typeName;
  int off;               // a play type the switches turn off (0: none)
  int type;              // expected type, or -1 for a refusal
  const char* expected;  // the play as written, or the whole message
};

class ParsePlayToBeat : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ParsePlayToBeat, ReadsThePlayOrSaysWhyNot) {
  const ParseRow& row = GetParam();
  TypedPlay play;
  std::string error;
  const bool ok = parsePlayToBeat(
      row.cards, row.typeName, [&](int type) { return type != row.off; }, play, error);
  ASSERT_EQ(ok, row.type >= 0) << error;
  if (ok) {
    EXPECT_EQ(play.type, row.type);
    EXPECT_EQ(play.cards, row.expected);
  } else {
    EXPECT_EQ(error, row.expected);
  }
}

const char* const F_AMBIGUOUS =
    "333444555666 can be read as several plays: F (飞机) 333444555666, F11 (飞机带个子翅膀) "
    "333444555666, F11 (飞机带个子翅膀) 444555666333; name the type, and for two readings of one "
    "type write the cards in the order shown";
const char* const F11_AMBIGUOUS =
    "666333444555 can be read as several plays: F11 (飞机带个子翅膀) 333444555666, F11 "
    "(飞机带个子翅膀) 444555666333; name the type, and for two readings of one type write the "
    "cards in the order shown";

INSTANTIATE_TEST_SUITE_P(
    Rows, ParsePlayToBeat,
    ::testing::Values(
        ParseRow{"single", "3", "", 0, TYPE_G, "3"},
        ParseRow{"typed_as_in_the_replay", "k k k 5", "", 0, TYPE_31, "KKK5"},
        ParseRow{"kicker_first", "5KKK", "", 0, TYPE_31, "KKK5"},
        ParseRow{"four_with_rocket", "XY3333", "", 0, TYPE_411, "3333XY"},
        ParseRow{"four_with_two_pairs", "55443333", "", 0, TYPE_422, "33334455"},
        ParseRow{"straight", "76543", "", 0, TYPE_SZ, "34567"},
        ParseRow{"run_of_pairs", "554433", "", 0, TYPE_LD, "334455"},
        ParseRow{"airplane_single_wings", "65444333", "", 0, TYPE_F11, "33344456"},
        ParseRow{"airplane_pair_wings", "6655444333", "", 0, TYPE_F22, "3334445566"},
        ParseRow{"bomb", "3333", "", 0, TYPE_ZD, "3333"},
        ParseRow{"rocket", "YX", "", 0, TYPE_WZ, "XY"},
        ParseRow{"four_triples_named", "333444555666", "f", 0, TYPE_F, "333444555666"},
        ParseRow{"four_triples_by_log_name", "333444555666", "飞机", 0, TYPE_F, "333444555666"},
        ParseRow{"wings_read_from_written_order", "444555666333", "F11", 0, TYPE_F11,
                 "444555666333"},
        ParseRow{"only_reading_left_on", "333444555666", "", TYPE_F11, TYPE_F, "333444555666"},
        ParseRow{"ambiguous", "333444555666", "", 0, -1, F_AMBIGUOUS},
        ParseRow{"ambiguous_within_a_type", "666333444555", "F11", 0, -1, F11_AMBIGUOUS},
        ParseRow{"lower_run_as_written", "333444555666", "F11", 0, TYPE_F11, "333444555666"},
        ParseRow{"switched_off", "33", "", TYPE_D, -1,
                 "33 is D (对子), which the rule switches turn off: the opponent could not have "
                 "played it"},
        ParseRow{"named_type_switched_off", "333444555666", "F", TYPE_F, -1,
                 "333444555666 is F (飞机), which the rule switches turn off: the opponent could "
                 "not have played it"},
        ParseRow{"not_of_the_named_type", "3334", "32", 0, -1,
                 "3334 is not a play of type 32 (三带二); it is 31 (三带一)"},
        ParseRow{"no_play", "34", "", 0, -1, "34 is not a play of any type"},
        ParseRow{"pairs_of_one_rank_as_wings", "3334445555", "", 0, -1,
                 "3334445555 is not a play of any type"},
        ParseRow{"two_in_a_straight", "JQKA2", "", 0, -1, "JQKA2 is not a play of any type"},
        ParseRow{"five_of_a_rank", "33333", "", 0, -1,
                 "the play 33333 holds more 3 than one pack has"},
        ParseRow{"not_a_card", "31", "", 0, -1,
                 "'1' is not a card (cards: Y X 2 A K Q J 0 9 8 7 6 5 4 3; Y big joker, X small "
                 "joker, 0 is ten)"},
        ParseRow{"nothing", " ", "", 0, -1, "no cards given for the play to beat"},
        ParseRow{"unknown_type", "33", "Q", 0, -1,
                 "unknown play type 'Q' (known: G,D,3,31,32,411,422,F,F11,F22,SZ,LD,ZD,WZ or the "
                 "names the log prints)"}),
    [](const ::testing::TestParamInfo<ParseRow>& info) { return std::string(info.param.what); });

}  // namespace
