#include "base/output.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "support/hubcapture.h"

using namespace zelk;
using zelk::testing::HubCapture;
using namespace std::chrono_literals;

namespace {

// ---- ConsolePrint, LogPrint, BoxPrint ----

TEST(ConsolePrint, QueuesTheTextThenWritesItToTheConsole) {
  HubCapture hub;
  EXPECT_EQ(ConsolePrint(0, u"最终获胜方是 player%c \r\n", '2'), 0);
  EXPECT_EQ(hub.console().output(), u"最终获胜方是 player2 \r\n");
  EXPECT_EQ(hub.queued(), std::vector<std::u16string>{u"最终获胜方是 player2 \r\n"});
  EXPECT_FALSE(stopRequested());
}

TEST(ConsolePrint, EmptyTextIsQueuedButNotWritten) {
  HubCapture hub;
  hub.console().detach();  // any write would fail
  EXPECT_EQ(ConsolePrint(0, u"%s", u""), 0);
  EXPECT_EQ(hub.queued(), std::vector<std::u16string>{u""});
  EXPECT_FALSE(stopRequested());
}

TEST(ConsolePrint, WithoutAConsoleSetsStopAndLogsTheError) {
  HubCapture hub;
  setConsole(nullptr);
  EXPECT_EQ(ConsolePrint(0, u"player1:"), 1);
  EXPECT_TRUE(stopRequested());
  EXPECT_EQ(hub.queued(),
            (std::vector<std::u16string>{
                u"player1:", formatText(u"WriteConsole:eno %d\r\n", NO_CONSOLE_ERROR)}));
}

TEST(ConsolePrint, FailedWriteStopsAtThatCharacter) {
  HubCapture hub;
  hub.console().failWritesAfter(3);
  EXPECT_EQ(ConsolePrint(0, u"abcdef\r\n"), 1);
  EXPECT_EQ(hub.console().output(), u"abc");
  EXPECT_TRUE(stopRequested());
  EXPECT_EQ(hub.queued(), (std::vector<std::u16string>{u"abcdef\r\n", u"WriteConsole:eno 5\r\n"}));
  EXPECT_EQ(hub.console().output(), u"abc") << "the error line goes to the log only";
}

TEST(ConsolePrint, DetachedConsoleFailsLikeNoConsole) {
  HubCapture hub;
  hub.console().detach();
  EXPECT_EQ(ConsolePrint(0, u"x"), 1);
  EXPECT_EQ(hub.queued(), (std::vector<std::u16string>{
                              u"x", formatText(u"WriteConsole:eno %d\r\n", DETACHED_ERROR)}));
}

struct LimitRow {
  const char* what;
  std::size_t length;
  std::size_t printed;  // length after the limit
  bool cut;
};

class PrintLimit : public ::testing::TestWithParam<LimitRow> {};

std::u16string textOf(std::size_t n) {
  std::u16string t;
  for (std::size_t i = 0; i < n; ++i) t.push_back(static_cast<char16_t>(u'a' + i % 26));
  return t;
}

TEST_P(PrintLimit, ConsoleAndBoxKeep10240Characters) {
  const LimitRow& row = GetParam();
  HubCapture hub;
  std::u16string text = textOf(row.length);
  std::u16string expected = row.cut ? text.substr(0, 10240) + u"\r\n" : text;
  ConsolePrint(0, u"%s", text);
  BoxPrint(u"%s", text);
  auto queued = hub.queued();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_EQ(queued[0].size(), row.printed);
  EXPECT_TRUE(queued[0] == expected);
  EXPECT_TRUE(queued[1] == expected);
  EXPECT_TRUE(hub.console().output() == expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, PrintLimit,
                         ::testing::Values(LimitRow{"short", 10, 10, false},
                                           LimitRow{"exactly_the_limit", 10240, 10240, false},
                                           LimitRow{"one_more", 10241, 10242, true},
                                           LimitRow{"far_more", 50000, 10242, true}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(LogPrint, KeepsLongTextsUpToItsBufferAndCutsBeyond) {
  HubCapture hub;
  std::u16string fits = textOf(LOGPRINT_LIMIT);
  std::u16string tooLong = textOf(70000);
  LogPrint(u"%s", textOf(10241));
  LogPrint(u"%s", fits);
  LogPrint(u"%s", tooLong);
  auto queued = hub.queued();
  ASSERT_EQ(queued.size(), 3u);
  EXPECT_EQ(queued[0].size(), 10241u) << "LogPrint has no 10,240 limit";
  EXPECT_TRUE(queued[1] == fits);
  EXPECT_EQ(queued[2].size(), 64767u);
  EXPECT_TRUE(queued[2] == tooLong.substr(0, 64765) + u"\r\n");
  EXPECT_EQ(hub.console().output(), u"") << "LogPrint never writes to the console";
}

struct FakeBoxes : MessageBoxes {
  std::vector<std::u16string> texts, captions;
  void information(const std::u16string& text, const std::u16string& caption) override {
    texts.push_back(text);
    captions.push_back(caption);
  }
  bool okCancel(const std::u16string&, const std::u16string&) override { return true; }
};

TEST(BoxPrint, QueuesTheTextAndShowsAnInformationBox) {
  HubCapture hub;
  FakeBoxes boxes;
  setMessageBoxes(&boxes);
  EXPECT_EQ(BoxPrint(u"%s超过了4张", u"3"), 0);
  setMessageBoxes(nullptr);
  EXPECT_EQ(boxes.texts, std::vector<std::u16string>{u"3超过了4张"});
  EXPECT_EQ(boxes.captions, std::vector<std::u16string>{u"BOX_PRINT"});
  EXPECT_EQ(hub.queued(), std::vector<std::u16string>{u"3超过了4张"});
  EXPECT_EQ(hub.console().output(), u"");
}

// ---- DrainLogQueue ----

// A log view over a plain string, with the selection rules of the interface.
struct FakeLogView : LogView {
  std::u16string text;
  long selStart = 0, selEnd = 0;
  int scrolls = 0;
  std::u16string throwOn;  // replaceSelection of this text throws

  long textLength() override { return static_cast<long>(text.size()); }
  void setSelection(long start, long end) override {
    long n = textLength();
    if (start < 0) start = end = n;
    if (end < 0 || end > n) end = n;
    selStart = start;
    selEnd = end;
  }
  void replaceSelection(const std::u16string& t) override {
    if (!throwOn.empty() && t == throwOn) throw std::runtime_error("view failed");
    text.replace(selStart, selEnd - selStart, t);
    selStart = selEnd = selStart + static_cast<long>(t.size());
  }
  void scrollToBottom() override { ++scrolls; }
};

class Drain : public ::testing::Test {
 protected:
  void SetUp() override { discardLogQueue(); }
  void TearDown() override {
    setLogView(nullptr);
    discardLogQueue();
  }
  FakeLogView view;
};

TEST_F(Drain, WithoutAViewTextsWaitInOrder) {
  for (int i = 0; i < 3; ++i) LogPrint(u"t%d ", i);
  DrainLogQueue();
  EXPECT_EQ(mStrSeq.size(), 3u);
  setLogView(&view);
  DrainLogQueue();
  EXPECT_EQ(view.text, u"t0 t1 t2 ");
  EXPECT_EQ(view.scrolls, 3);
}

TEST_F(Drain, MovesAtMostTenTextsPerCall) {
  setLogView(&view);
  std::u16string all;
  for (int i = 0; i < 25; ++i) {
    LogPrint(u"line %d\r\n", i);
    all += formatText(u"line %d\r\n", i);
  }
  std::vector<uint64_t> left;
  for (int tick = 0; tick < 4; ++tick) {
    DrainLogQueue();
    left.push_back(mStrSeq.size());
  }
  EXPECT_EQ(left, (std::vector<uint64_t>{15, 5, 0, 0}));
  EXPECT_EQ(view.text, all);
}

struct TrimRow {
  long length;
  bool trims;
};

class DrainTrim : public Drain, public ::testing::WithParamInterface<TrimRow> {};

TEST_P(DrainTrim, DropsTheOldestThirtySecondNearTheLimit) {
  std::u16string before(GetParam().length, u'x');
  for (std::size_t i = 0; i < before.size(); ++i) before[i] = static_cast<char16_t>(u'a' + i % 26);
  view.text = before;
  setLogView(&view);
  LogPrint(u"new");
  DrainLogQueue();
  long cut = GetParam().trims ? GetParam().length / 32 : 0;
  EXPECT_TRUE(view.text == before.substr(cut) + u"new") << "length " << GetParam().length;
}

INSTANTIATE_TEST_SUITE_P(Rows, DrainTrim,
                         ::testing::Values(TrimRow{31767, false}, TrimRow{31768, true},
                                           TrimRow{32767, true}, TrimRow{0, false}));

TEST_F(Drain, AFailingViewLosesOnlyThatText) {
  view.throwOn = u"bad";
  setLogView(&view);
  LogPrint(u"one ");
  LogPrint(u"bad");
  LogPrint(u"two");
  DrainLogQueue();
  EXPECT_EQ(view.text, u"one two");
  EXPECT_EQ(mStrSeq.size(), 0u);
}

// ---- Emptying the queue without a view ----

TEST(DiscardLogQueue, DropsEverythingQueued) {
  discardLogQueue();
  for (int i = 0; i < 7; ++i) LogPrint(u"x");
  EXPECT_EQ(discardLogQueue(), 7u);
  EXPECT_EQ(mStrSeq.size(), 0u);
  EXPECT_EQ(discardLogQueue(), 0u);
}

TEST(DiscardLogQueue, DiscarderKeepsTheQueueEmptyWhileItLives) {
  discardLogQueue();
  {
    LogQueueDiscarder discarder;
    for (int i = 0; i < 100; ++i) LogPrint(u"x");
    for (int i = 0; i < 500 && mStrSeq.size() != 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(mStrSeq.size(), 0u);
    LogPrint(u"y");
  }
  EXPECT_EQ(mStrSeq.size(), 0u) << "the last discard runs when it ends";
  LogPrint(u"z");
  EXPECT_EQ(mStrSeq.size(), 1u) << "no discarding after it ended";
  discardLogQueue();
}

}  // namespace
