#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/paths.h"

using namespace zelk;

namespace {

struct Utf8Row {
  const char* what;
  std::string utf8;
  std::u16string utf16;
};

class Utf8To16 : public ::testing::TestWithParam<Utf8Row> {};

TEST_P(Utf8To16, DecodesAndReplacesWhatIsInvalid) {
  EXPECT_TRUE(utf8ToUtf16(GetParam().utf8) == GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(Rows, Utf8To16,
                         ::testing::Values(Utf8Row{"ascii", "34567890JQKA2XY", u"34567890JQKA2XY"},
                                           Utf8Row{"chinese", "\xE7\x8E\x8B\xE7\x82\xB8", u"王炸"},
                                           Utf8Row{"outside_basic_plane", "\xF0\x9F\x82\xA1",
                                                   u"\U0001F0A1"},
                                           Utf8Row{"lone_continuation", "a\x80z", u"a\uFFFDz"},
                                           Utf8Row{"truncated", "\xE7\x8E", u"\uFFFD"},
                                           Utf8Row{"broken_then_ascii", "\xE7Z", u"\uFFFDZ"},
                                           Utf8Row{"overlong_slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
                                           Utf8Row{"overlong_three", "\xE0\x80\xAF", u"\uFFFD"},
                                           Utf8Row{"surrogate", "\xED\xA0\x80", u"\uFFFD"},
                                           Utf8Row{"past_unicode", "\xF4\x90\x80\x80", u"\uFFFD"},
                                           Utf8Row{"bad_lead", "\xFF", u"\uFFFD"}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(Utf16To8, EncodesPairsAndReplacesLoneSurrogates) {
  EXPECT_EQ(utf16ToUtf8(u"对子 3"), "\xE5\xAF\xB9\xE5\xAD\x90 3");
  EXPECT_EQ(utf16ToUtf8(u"\U0001F0A1"), "\xF0\x9F\x82\xA1");
  EXPECT_EQ(utf16ToUtf8(std::u16string{0xD83C}), "\xEF\xBF\xBD");
  EXPECT_EQ(utf16ToUtf8(std::u16string{0xDCA1, u'a'}),
            "\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(utf16ToUtf8(std::u16string{0xD83C, 0xD83C, 0xDCA1}), "\xEF\xBF\xBD\xF0\x9F\x82\xA1");
  std::u16string all;
  for (char32_t c = 1; c < 0xD800; c += 97) all.push_back(static_cast<char16_t>(c));
  EXPECT_TRUE(utf8ToUtf16(utf16ToUtf8(all)) == all);
}

TEST(CardText, WidenAndNarrowKeepTheCardCharacters) {
  EXPECT_EQ(widen("30A2XY"), u"30A2XY");
  EXPECT_EQ(narrow(u"YX2A03"), "YX2A03");
  EXPECT_EQ(narrow(u"3过"), "3?");
  EXPECT_EQ(widen(std::string(1, '\xE9')), u"\u00E9");
}

TEST(Paths, XdgFoldersOrTheirDefaultsUnderHome) {
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  std::string saved = oldConfig ? oldConfig : "";
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(configDir(), "/cfg/ZelkSolver");
  ::setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ(configDir(), home + "/.config/ZelkSolver");
  if (oldConfig)
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
