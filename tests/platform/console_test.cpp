#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/scriptconsole.h"
#include "platform/terminalconsole.h"

using namespace zelk;
using namespace std::chrono_literals;

namespace {

struct Pipe {
  int r = -1, w = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      r = fds[0];
      w = fds[1];
    }
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  void closeRead() {
    if (r >= 0) ::close(r);
    r = -1;
  }
  void closeWrite() {
    if (w >= 0) ::close(w);
    w = -1;
  }
  void put(const std::string& bytes) {
    ASSERT_EQ(::write(w, bytes.data(), bytes.size()), (ssize_t)bytes.size());
  }
  std::string drain() {
    closeWrite();
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = ::read(r, buf, sizeof buf)) > 0) out.append(buf, n);
    return out;
  }
};

// Everything the console hands out until a read fails.
std::u16string readAll(Console& c) {
  std::u16string out;
  char16_t ch;
  while (c.readChar(ch)) out.push_back(ch);
  return out;
}

struct DecodeRow {
  const char* what;
  std::string bytes;
  std::u16string units;
};

class TerminalDecode : public testing::TestWithParam<DecodeRow> {};

TEST_P(TerminalDecode, ReadsUtf8AsUtf16Units) {
  Pipe in;
  in.put(GetParam().bytes);
  in.closeWrite();
  TerminalConsole console(in.r, -1);
  EXPECT_EQ(readAll(console), GetParam().units);
  EXPECT_EQ(console.error(), END_OF_INPUT_ERROR);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TerminalDecode,
    testing::Values(DecodeRow{"ascii_line", "33 4\n", u"33 4\n"},
                    DecodeRow{"chinese", "\xE8\xBF\x87x", u"过x"},
                    DecodeRow{"pair_outside_basic_plane", "\xF0\x9F\x82\xA1", u"\U0001F0A1"},
                    DecodeRow{"stray_continuation",
                              "a\x80"
                              "b",
                              u"a\uFFFDb"},
                    DecodeRow{"broken_sequence_keeps_next_byte", "\xE8\xBFZ", u"\uFFFDZ"},
                    DecodeRow{"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
                    DecodeRow{"encoded_surrogate", "\xED\xA0\x80", u"\uFFFD"},
                    DecodeRow{"past_unicode", "\xF4\x90\x80\x80", u"\uFFFD"},
                    DecodeRow{"truncated_at_end", "ok\xE8\xBF", u"ok"}),
    [](const auto& info) { return std::string(info.param.what); });

struct EncodeRow {
  const char* what;
  std::u16string units;
  std::string bytes;
};

class TerminalEncode : public testing::TestWithParam<EncodeRow> {};

TEST_P(TerminalEncode, WritesUtf16UnitsAsUtf8) {
  Pipe out;
  {
    TerminalConsole console(-1, out.w);
    for (char16_t c : GetParam().units) ASSERT_TRUE(console.writeChar(c));
  }
  EXPECT_EQ(out.drain(), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TerminalEncode,
    testing::Values(EncodeRow{"ascii_crlf", u"player1:\r\n", "player1:\r\n"},
                    EncodeRow{"chinese", u"最终获胜方",
                              "\xE6\x9C\x80\xE7\xBB\x88\xE8\x8E\xB7\xE8\x83\x9C\xE6\x96\xB9"},
                    EncodeRow{"pair", u"\U0001F0A1", "\xF0\x9F\x82\xA1"},
                    EncodeRow{"lone_low",
                              u"\xDC00"
                              "a",
                              "\xEF\xBF\xBD"
                              "a"},
                    EncodeRow{"high_then_plain",
                              u"\xD83C"
                              "a",
                              "\xEF\xBF\xBD"
                              "a"},
                    EncodeRow{"high_then_high_then_low", u"\xD83C\xD83C\xDCA1",
                              "\xEF\xBF\xBD\xF0\x9F\x82\xA1"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(TerminalConsole, EndOfInputStaysAFailure) {
  Pipe in;
  in.put("a");
  in.closeWrite();
  TerminalConsole console(in.r, -1);
  char16_t c;
  ASSERT_TRUE(console.readChar(c));
  EXPECT_FALSE(console.readChar(c));
  EXPECT_FALSE(console.readChar(c));
  EXPECT_EQ(console.error(), END_OF_INPUT_ERROR);
}

TEST(TerminalConsole, DetachWakesABlockedReadAndFailsEverythingAfter) {
  Pipe in, out;  // nothing is ever written to `in`, and its write end stays open
  TerminalConsole console(in.r, out.w);
  std::atomic<int> result{-1};
  std::thread reader([&] {
    char16_t c;
    result = console.readChar(c) ? 1 : 0;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(result.load(), -1) << "the read must wait for input";
  EXPECT_TRUE(console.detach());
  reader.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(console.error(), DETACHED_ERROR);

  in.put("x");
  char16_t c;
  EXPECT_FALSE(console.readChar(c)) << "input after detach is not read";
  EXPECT_FALSE(console.writeChar(u'a'));
  EXPECT_TRUE(console.detach()) << "detach is idempotent";
  EXPECT_EQ(out.drain(), "");
}

TEST(TerminalConsole, WriteToAClosedPipeFailsWithoutEndingTheProcess) {
  Pipe out;
  out.closeRead();
  TerminalConsole console(-1, out.w);
  EXPECT_FALSE(console.writeChar(u'a'));
  EXPECT_EQ(console.error(), EPIPE);
}

TEST(TerminalConsole, TitleGoesOnlyToATerminal) {
  Pipe out;
  {
    TerminalConsole console(-1, out.w);
    console.setTitle(u"ZelkSolver");
  }
  EXPECT_EQ(out.drain(), "");
}

TEST(ScriptConsole, ReadsTheScriptThenFailsLikeEndOfInput) {
  ScriptConsole console(u"4\r\n过");
  EXPECT_EQ(readAll(console), u"4\r\n过");
  EXPECT_EQ(console.error(), END_OF_INPUT_ERROR);
  char16_t c;
  EXPECT_FALSE(console.readChar(c));
}

TEST(ScriptConsole, BlockingScriptWaitsForFeedAndThenForDetach) {
  ScriptConsole console(u"a", ScriptConsole::AtEnd::Block);
  std::u16string got;
  std::thread reader([&] { got = readAll(console); });
  ASSERT_TRUE(console.waitForBlockedRead(5s));
  console.feed(u"bc");
  ASSERT_TRUE(console.waitForBlockedRead(5s));
  console.detach();
  reader.join();
  EXPECT_EQ(got, u"abc");
  EXPECT_EQ(console.error(), DETACHED_ERROR);
}

TEST(ScriptConsole, CapturesOutputAndTitleUntilDetached) {
  ScriptConsole console;
  for (char16_t c : std::u16string(u"player1:")) ASSERT_TRUE(console.writeChar(c));
  console.setTitle(u"ZelkSolver");
  EXPECT_TRUE(console.waitForOutput(u"player1:", 0ms));
  EXPECT_FALSE(console.waitForOutput(u"player2:", 0ms));
  EXPECT_EQ(console.takeOutput(), u"player1:");
  EXPECT_EQ(console.output(), u"");
  EXPECT_EQ(console.title(), u"ZelkSolver");
  console.detach();
  EXPECT_FALSE(console.writeChar(u'x'));
  EXPECT_EQ(console.error(), DETACHED_ERROR);
  EXPECT_EQ(console.output(), u"");
}

TEST(ScriptConsole, WritesFailAfterTheGivenCount) {
  ScriptConsole console;
  console.failWritesAfter(2);
  EXPECT_TRUE(console.writeChar(u'a'));
  EXPECT_TRUE(console.writeChar(u'b'));
  EXPECT_FALSE(console.writeChar(u'c'));
  EXPECT_EQ(console.error(), EIO);
  EXPECT_EQ(console.output(), u"ab");
}

}  // namespace
