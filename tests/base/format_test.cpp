#include "base/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/text.h"

using namespace zelk;

namespace {

struct FormatRow {
  const char* what;
  std::u16string got;
  std::u16string expected;
};

class Format : public ::testing::TestWithParam<FormatRow> {};

TEST_P(Format, GivesPrintfText) {
  EXPECT_EQ(utf16ToUtf8(GetParam().got), utf16ToUtf8(GetParam().expected));
}

const std::u16string wide = u"YX2A";

INSTANTIATE_TEST_SUITE_P(
    Rows, Format,
    ::testing::Values(
        FormatRow{"plain", formatText(u"过\r\n"), u"过\r\n"},
        FormatRow{"wide_string", formatText(u"[%s]", wide), u"[YX2A]"},
        FormatRow{"wide_pointer", formatText(u"[%s]", u"对子"), u"[对子]"},
        FormatRow{"card_string", formatText(u"del_1:[%s][%c]\r\n", "33445", '6'),
                  u"del_1:[33445][6]\r\n"},
        FormatRow{"null_wide_pointer", formatText(u"%s", static_cast<const char16_t*>(nullptr)),
                  u"(null)"},
        FormatRow{"int", formatText(u"%d|%i", -5, 7), u"-5|7"},
        FormatRow{"width", formatText(u"[%5d][%-5d][%05d]", 42, 42, 42), u"[   42][42   ][00042]"},
        FormatRow{"star_width", formatText(u"[%*d]", 4, 7), u"[   7]"},
        FormatRow{"i64_signed", formatText(u"%I64d", INT64_MIN), u"-9223372036854775808"},
        FormatRow{"i64_unsigned", formatText(u"%I64u", UINT64_MAX), u"18446744073709551615"},
        FormatRow{"i64_count", formatText(u"nodes %I64d", int64_t{1234567890123}),
                  u"nodes 1234567890123"},
        FormatRow{"ll_and_l", formatText(u"%lld %ld %lu", -1LL, 2L, 3UL), u"-1 2 3"},
        FormatRow{"fixed_two", formatText(u"%0.2f", 3.14159), u"3.14"},
        FormatRow{"fixed_pad", formatText(u"%.2f|%8.3f", 2.5, -1.0), u"2.50|  -1.000"},
        FormatRow{"char_wide", formatText(u"%c", u'过'), u"过"},
        FormatRow{"char_card", formatText(u"player%c", '1'), u"player1"},
        FormatRow{"char_width", formatText(u"[%3c]", 'Y'), u"[  Y]"},
        FormatRow{"pointer", formatText(u"%p", reinterpret_cast<const void*>(0x1234abcd)),
                  u"000000001234ABCD"},
        FormatRow{"null_pointer", formatText(u"%p", nullptr), u"0000000000000000"},
        FormatRow{"unsigned_of_negative_int", formatText(u"%u", -1), u"4294967295"},
        FormatRow{"hex", formatText(u"%x %X %#x", 255, -1, 16), u"ff FFFFFFFF 0x10"},
        FormatRow{"unsigned_of_negative_int64", formatText(u"%I64u", int64_t{-1}),
                  u"18446744073709551615"},
        FormatRow{"string_width", formatText(u"[%5s][%-5s][%.2s]", u"abc", u"abc", u"abc"),
                  u"[  abc][abc  ][ab]"},
        FormatRow{"percent", formatText(u"100%% done"), u"100% done"},
        FormatRow{"trailing_percent", formatText(u"100%"), u"100%"},
        FormatRow{"unknown_conversion_kept", formatText(u"%y|%d", 1), u"%y|1"},
        FormatRow{"missing_arguments", formatText(u"%d|%s|", 1), u"1||"},
        FormatRow{"extra_arguments", formatText(u"%d", 1, 2), u"1"},
        FormatRow{"text_for_number", formatText(u"%d", u"abc"), u"0"},
        FormatRow{"bool", formatText(u"%d%d", true, false), u"10"},
        FormatRow{"utf8_narrow", formatText(u"%s", "\xE7\x8E\x8B\xE7\x82\xB8"), u"王炸"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(LimitText, CutsOnlyPastTheLimitAndEndsTheCutWithALineBreak) {
  EXPECT_EQ(limitText(u"abcd", 4), u"abcd");
  EXPECT_EQ(limitText(u"abcde", 4), u"abcd\r\n");
  EXPECT_EQ(limitText(u"", 0), u"");
}

}  // namespace
