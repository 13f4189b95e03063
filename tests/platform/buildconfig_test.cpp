#include <gtest/gtest.h>

#include "tricky_literal.h"

TEST(BuildConfig, EscapedTextsComeOutOfTheLiteralUnchanged) {
  EXPECT_STREQ(ZELK_TRICKY_LITERAL, "The \"Zelk\" team \\ C:\\new\\ 中文\r\nend");
}
