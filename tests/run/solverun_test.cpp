// The solving run and the replay, through a scripted console.
#include "run/solverun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/output.h"
#include "platform/scriptconsole.h"
#include "platform/text.h"
#include "rules/switches.h"
#include "solver/gamenode.h"
#include "solver/nodepool.h"
#include "solver/solver.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> queuedTexts() {
  std::vector<std::string> texts;
  while (auto t = mStrSeq.take()) texts.push_back(utf16ToUtf8(*t));
  return texts;
}

bool contains(const std::vector<std::string>& texts, const std::string& text) {
  for (const std::string& t : texts)
    if (t == text) return true;
  return false;
}

// The statistics line carries the measured time; everything else is fixed.
std::string maskTiming(const std::string& text) {
  static const std::regex timing(R"(speed \d+/s sec \d+\.\d{3}s)");
  return std::regex_replace(text, timing, "speed S/s sec T.TTTs");
}

class SolvingRun : public ::testing::Test {
 protected:
  void TearDown() override {
    setConsole(nullptr);
    setFlag(F_U1F, 0);
    setFlag(F_DEBUG, 0);
    resetRuleSwitches();
    request = SolveRequest{};
    setStop(0);
    queuedTexts();
  }

  // Runs a whole solving run on this thread with the given typed lines.
  std::string run(const char16_t* player1, const char16_t* player2, std::u16string_view script) {
    return runOn(std::make_shared<ScriptConsole>(script, ScriptConsole::AtEnd::Fail), player1,
                 player2);
  }
  std::string runOn(std::shared_ptr<ScriptConsole> on, const char16_t* player1,
                    const char16_t* player2) {
    console = std::move(on);
    GameNode* root = begin(player1, player2);
    EXPECT_EQ(zelkmain(root, request), 1);
    return end(root);
  }

  // A run in two halves, for runs driven from another thread.
  GameNode* begin(const char16_t* player1, const char16_t* player2) {
    setConsole(console);
    queuedTexts();
    request.player1 = player1;
    request.player2 = player2;
    request.engine.rules = fast::currentRules();
    request.u1First = on(F_U1F);
    nodeCount = 0;
    return newNode();
  }
  std::string end(GameNode* root) {
    log = queuedTexts();
    if (tableRoot) {
      deleteNode(tableRoot);
      tableRoot = nullptr;
    }
    deleteNode(root);
    return maskTiming(utf16ToUtf8(console->output()));
  }

  // A search that fails in place of ZelkSolver.
  void searchWith(SearchFunction search) {
    static SearchFunction failing;
    failing = search;
    request.makeEngine = [](const EngineSettings&) { return makeExhaustiveEngine(failing); };
  }

  std::shared_ptr<ScriptConsole> console;
  std::vector<std::string> log;
  SolveRequest request;
};

TEST_F(SolvingRun, MachineAsPlayer1WithIllegalPlaysAndAReplay) {
  std::string out = run(u"2", u"43", u"4\n\nx\n\n3\n");
  EXPECT_EQ(out,
            "player1牌:2\r\n"
            "player2牌:43  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player1 \r\n"
            "推演牌局总数 5 牌局树牌局数 5(100.00%) N1=2 speed S/s sec T.TTTs \r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 2 player2 34】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:4\n"
            "player1出牌:2\n"
            "player1赢\r\n"
            "按回车键重玩此局...\r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 2 player2 34】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:X\n"
            "player2出牌不合法\n"
            "player2:player2过牌\n"
            "player2出牌不合法\n"
            "player2:player2出牌:3\n"
            "player1出牌:2\n"
            "player1赢\r\n"
            "按回车键重玩此局...\r\n");
  // The end of the input ends the run like a console that went away.
  EXPECT_TRUE(contains(log, "zelkmain:\r\n"));
  EXPECT_TRUE(contains(log, "zelkmain:ZelkSolver reted!\r\n"));
  EXPECT_TRUE(contains(log, "zelkmain:[]\r\n"));
  EXPECT_EQ(log.back(), "ERRORBREAK!\r\n");
  EXPECT_TRUE(stopRequested());
}

TEST_F(SolvingRun, AGameOfSeveralExchangesWithTheMachinePassing) {
  std::string out = run(u"AA9", u"2QQJJ77553", u"3\n5\n\n");
  EXPECT_EQ(out,
            "player1牌:AA9\r\n"
            "player2牌:2QQJJ77553  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player1 \r\n"
            "推演牌局总数 3823 牌局树牌局数 3083(80.64%) N1=10 speed S/s sec T.TTTs \r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 9AA player2 35577JJQQ2】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:3\n"
            "player1出牌:过\n"
            "牌局【player1 9AA player2 5577JJQQ2】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:5\n"
            "player1出牌:9\n"
            "牌局【player1 AA player2 577JJQQ2】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2过牌\n"
            "player1出牌:AA\n"
            "player1赢\r\n"
            "按回车键重玩此局...\r\n");
}

TEST_F(SolvingRun, MachineAsPlayer2LeadsAndAnswersAPass) {
  std::string out = run(u"3", u"54", u"3\n\n");
  EXPECT_EQ(out,
            "player1牌:3\r\n"
            "player2牌:54  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player2 \r\n"
            "推演牌局总数 4 牌局树牌局数 4(100.00%) N1=2 speed S/s sec T.TTTs \r\n"
            "\r\n现在开始游戏...机器扮演player2...玩家扮演player1...\r\n"
            "牌局【player1 3 player2 45】轮到player2出牌(回车表示过牌)..\n"
            "player2出牌:4\n"
            "牌局【player1 3 player2 5】轮到player1出牌(回车表示过牌)..\n"
            "player1:player1出牌:3\n"
            "player1出牌不合法\n"
            "player1:player1过牌\n"
            "player2出牌:5\n"
            "player2赢\r\n"
            "按回车键重玩此局...\r\n");
}

TEST_F(SolvingRun, TypedPlaysIgnoreBlanksCaseAndCardOrder) {
  // k k k 5 is KKK5; a play longer than any hand is simply illegal.
  // Whatever player2 leads from KKK56, the rocket answers and wins.
  std::u16string script = u"k k k 5\n\n" + std::u16string(1500, u'K') + u"\n";
  std::string out = run(u"XY", u"6KKK5", script.c_str());
  EXPECT_NE(out.find("最终获胜方是 player1 \r\n"), std::string::npos);
  EXPECT_NE(out.find("player2:player2出牌:KKK5\nplayer1出牌:XY\nplayer1赢\r\n"), std::string::npos);
  EXPECT_NE(out.find("player2出牌:" + std::string(1024, 'K') + "\nplayer2出牌不合法\n"),
            std::string::npos);
}

TEST_F(SolvingRun, APlayHoldingANulIsIllegal) {
  // Cut at the NUL, "4<NUL>" would read as the legal single 4.
  std::u16string script = u"4";
  script += u'\0';
  script += u"\n4\n";
  std::string out = run(u"2", u"43", script);
  std::string echoed = std::string("player2:player2出牌:4") + '\0' + "\nplayer2出牌不合法\n";
  EXPECT_NE(out.find(echoed + "player2:player2出牌:4\nplayer1出牌:2\nplayer1赢\r\n"),
            std::string::npos)
      << out;
}

TEST_F(SolvingRun, LongLinesAreCutTo1024Characters) {
  std::u16string script = u"4" + std::u16string(2000, u'Q') + u"\n";
  std::string out = run(u"2", u"43", script.c_str());
  std::string echoed = "player2出牌:4" + std::string(1023, 'Q') + "\n";
  EXPECT_NE(out.find(echoed), std::string::npos);
  EXPECT_NE(out.find("player2出牌不合法\n"), std::string::npos);
}

TEST_F(SolvingRun, ListingModeLetsPlayer1Lead) {
  setFlag(F_U1F, 1);
  std::string out = run(u"3", u"54", u"hello\n");
  EXPECT_EQ(out,
            "player1牌:3\r\n"
            "player2牌:54  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "C:[45][][3]--while--个子\r\n"
            "findcU1C:List of U1\n"
            "由于U1成了赢家，所以U1的出牌表是不完整的!!!!\r\n"
            "你只有让U1成为输家，才能看到U1的完整出牌表!!!\r\n"
            "input:e-cho:hello\r\n"
            "input:");
}

// From the middle of a game the progress line counts through the mover's
// own plays (player1's here, against a single 3), as N1 does.
TEST_F(SolvingRun, FromMidGameTheProgressCountsTheMoversPlays) {
  request.mover = RESULT_U1;
  request.toBeat = "3";
  request.toBeatType = TYPE_G;
  std::string out = run(u"2K5", u"4", u"");
  EXPECT_NE(out.find("轮到player1出牌，要压的牌:3(个子)\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find(" N1=4 "), std::string::npos) << out;  // 5, K, 2 and the pass
  EXPECT_EQ(topMoveCount, 4);
}

// Wherever the console fails during the listing, the run ends at the check
// after that line: one failed write, then "ERRORBREAK!", and nothing read.
TEST_F(SolvingRun, ListingModeEndsAtTheLineThatFailed) {
  setFlag(F_U1F, 1);
  // player1 loses whatever it leads (two first plays, no notice), then wins.
  for (auto [player1, player2] : {std::pair{u"43", u"2"}, std::pair{u"3", u"54"}}) {
    std::u16string whole = utf8ToUtf16(run(player1, player2, u""));
    const std::u16string opening = u"开始暴力求解...\r\n";
    std::size_t head = whole.find(opening);
    ASSERT_NE(head, std::u16string::npos);
    head += opening.size();
    ASSERT_EQ(whole.substr(whole.size() - 6), u"input:");
    for (std::size_t cut = head; cut < whole.size(); ++cut) {
      SCOPED_TRACE(utf16ToUtf8(whole.substr(0, cut)));
      auto failing = std::make_shared<ScriptConsole>(u"x\n", ScriptConsole::AtEnd::Fail);
      failing->failWritesAfter(cut);
      EXPECT_EQ(utf8ToUtf16(runOn(failing, player1, player2)), whole.substr(0, cut));
      int failedWrites = 0;
      for (const std::string& t : log) failedWrites += t.rfind("WriteConsole:eno ", 0) == 0;
      EXPECT_EQ(failedWrites, 1);
      ASSERT_GE(log.size(), 2u);
      EXPECT_EQ(log[log.size() - 2].rfind("WriteConsole:eno ", 0), 0u);
      EXPECT_EQ(log.back(), "ERRORBREAK!\r\n");
    }
  }
}

TEST_F(SolvingRun, NoReplayEndsAfterTheStatistics) {
  request.replay = false;
  std::string out = run(u"AA9", u"2QQJJ77553", u"");
  EXPECT_NE(out.find("推演牌局总数 3823 牌局树牌局数 3083(80.64%) N1=10 speed S/s"),
            std::string::npos);
  EXPECT_EQ(out.find("现在开始游戏"), std::string::npos);
  RunReport report = lastRunReport();
  EXPECT_TRUE(report.completed);
  EXPECT_EQ(report.winner, '1');
  EXPECT_EQ(report.positions, 3823);
  EXPECT_EQ(report.keptPositions, 3083);
  EXPECT_EQ(report.openingPlays, 10);
}

TEST_F(SolvingRun, FailedConsoleWriteStopsAtTheNextLine) {
  console = std::make_shared<ScriptConsole>(u"", ScriptConsole::AtEnd::Fail);
  console->failWritesAfter(5);
  setConsole(console);
  request.player1 = u"2";
  request.player2 = u"43";
  GameNode* root = newNode();
  zelkmain(root, request);
  std::vector<std::string> texts = queuedTexts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[texts.size() - 2].rfind("WriteConsole:eno ", 0), 0u);
  EXPECT_EQ(texts.back(), "ERRORBREAK!\r\n");
  deleteNode(root);
}

// A consistent solve always leaves the machine a winning answer; a tree
// without one must end the game with the anomaly line, not read a missing node.
TEST_F(SolvingRun, MachineWithoutAWinningAnswerEndsTheGame) {
  console = std::make_shared<ScriptConsole>(u"", ScriptConsole::AtEnd::Block);
  GameNode* root = begin(u"2", u"43");
  std::thread solver([&] { zelkmain(root, request); });
  bool prompted = console->waitForBlockedRead(10s);
  bool cleared = false;
  if (prompted) {
    // The solver thread waits for player2's play: take away every answer to the 4.
    for (GameNode* c = root->child; c; c = c->next)
      if (std::strcmp(c->lastPlay, "4") == 0)
        for (GameNode* answer = c->child; answer; answer = answer->next, cleared = true)
          answer->result = RESULT_OPEN;
    console->feed(u"4\n");
  }
  bool offered = prompted && console->waitForOutput(u"按回车键重玩此局...\r\n", 10s);
  console->detach();
  solver.join();
  std::string out = end(root);
  ASSERT_TRUE(prompted && cleared && offered) << out;
  EXPECT_EQ(out,
            "player1牌:2\r\n"
            "player2牌:43  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player1 \r\n"
            "推演牌局总数 5 牌局树牌局数 5(100.00%) N1=2 speed S/s sec T.TTTs \r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 2 player2 34】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:4\n"
            "zelkmain:异常:player1出牌不合法\n"
            "按回车键重玩此局...\r\n");
  EXPECT_EQ(log.back(), "ERRORBREAK!\r\n");
}

TEST_F(SolvingRun, AnUnknownExceptionInTheSearchEndsTheRun) {
  searchWith([](GameNode*, int) -> char { throw 42; });
  std::string out = run(u"2", u"43", u"4\n");
  EXPECT_EQ(out,
            "player1牌:2\r\n"
            "player2牌:43  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "zelkmain:catched expect(未知)\r\n");
  std::vector<std::string> tail(log.end() - std::min<std::size_t>(log.size(), 3), log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"zelkmain:catched expect(未知)\r\n",
                                            "zelkmain:未知异常，求解线程将终止!!!\r\n",
                                            "ERRORBREAK!\r\n"}));
  EXPECT_TRUE(stopRequested());
  EXPECT_TRUE(lastRunReport().failed);
}

TEST_F(SolvingRun, ASearchWithoutAWinnerEndsBeforeTheReplay) {
  searchWith([](GameNode*, int) -> char { return RESULT_OPEN; });
  std::string out = run(u"2", u"43", u"4\n");
  EXPECT_EQ(out,
            "player1牌:2\r\n"
            "player2牌:43  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player3 \r\n"
            "推演牌局总数 1 牌局树牌局数 1(100.00%) N1=2 speed S/s sec T.TTTs \r\n");
  std::vector<std::string> tail(log.end() - std::min<std::size_t>(log.size(), 2), log.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{"zelkmain:异常，没有算出最终胜利方\r\n", "ERRORBREAK!\r\n"}));
  EXPECT_TRUE(stopRequested());
  EXPECT_TRUE(lastRunReport().failed);
}

// In a fresh process, so that no node freed by an earlier test can be reused.
TEST_F(SolvingRun, MemoryExhaustionIsReportedAndTheTreeStaysWhole) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setConsole(std::make_shared<ScriptConsole>(u"", ScriptConsole::AtEnd::Fail));
        nodepool::setBudgetBytes(nodepool::reservedBytes() + 20000 * sizeof(GameNode));
        SolveRequest big;
        big.player1 = u"22AAKKQQJJ09999";
        big.player2 = u"YX8877766655544433";
        GameNode* root = newNode();
        zelkmain(root, big);
        std::vector<std::string> texts = queuedTexts();
        bool ok =
            contains(texts,
                     "zelkmain:catched CMemoryException(node memory budget exhausted)!\r\n") &&
            contains(texts, "zelkmain:内存失败，求解线程将终止!!!\r\n") &&
            texts.back() == "ERRORBREAK!\r\n" && stopRequested() && lastRunReport().failed;
        nodepool::setBudgetBytes(0);
        ok = ok && countNodes(root) >= 1;
        deleteNode(root);
        if (tableRoot) deleteNode(tableRoot);
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zelk
