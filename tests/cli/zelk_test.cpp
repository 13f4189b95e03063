// The `zelk` command end to end: the real binary with piped input, and a
// pseudo-terminal for Ctrl-C.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "zelkprocess.h"

namespace {

using zelktest::Result;
using zelktest::runZelk;
using zelktest::Terminal;

std::string maskTiming(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(speed \d+/s sec \d+\.\d{3}s)"),
                            "speed S/s sec T.TTTs");
}

TEST(Zelk, JsonOnTheDefaultEndgame) {
  Result r = runZelk({"--json"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  std::regex expected(
      R"(^\{"player1":"AA9","player2":"2QQJJ77553","winner":1,"first_play":null,)"
      R"("first_play_type":null,"positions":3823,"tree_positions":3083,"opening_plays":10,)"
      R"("elapsed_ms":\d+,"engine":"exhaustive"\}\n$)");
  EXPECT_TRUE(std::regex_match(r.out, expected)) << r.out;
}

TEST(Zelk, JsonNamesTheFirstPlayWhenPlayer2Wins) {
  // KK loses (the ace takes the last single), KKK wins: the first win in
  // canonical order is the three.
  Result r = runZelk({"--json", "--player1", "a", "--player2", "k k k 5"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("player1":"A","player2":"KKK5","winner":2,"first_play":"KKK",)"
                       R"("first_play_type":"三个")"),
            std::string::npos)
      << r.out;
}

TEST(Zelk, BadHandsAndOptionsExitWithStatus2) {
  struct Row {
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {{"--player1", "10JQKA"}, "玩家1的牌不合法!\r\n因为[输入范围之外的字符(1)]!请重新输入!!!\r\n"},
      {{"--player1", "33333", "--player2", "XX"},
       "玩家1的牌不合法!\r\n因为[3超过了4张]!请重新输入!!!\r\n"},
      {{"--player2", "XX"},
       "玩家2的牌不合法!\r\n因为[输入了2张小王，最多只能1张小王]!请重新输入!!!\r\n"},
      {{"--player1", ""}, "每个玩家的牌太少!!!\r\n请重新输入!!![0][10]\r\n"},
      {{"--player2", "33334444555566667777AAA"},
       "每个玩家的牌不能超过22张!!!\r\n请重新输入!!![3][23]\r\n"},
  };
  for (const Row& row : rows) {
    Result r = runZelk(row.args, "");
    EXPECT_EQ(r.status, 2) << row.err;
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.out, "");
  }
  Result unknown = runZelk({"--frobnicate"}, "");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown option --frobnicate"), std::string::npos);
  Result badSwitch = runZelk({"--off", "ZD,QQ"}, "");
  EXPECT_EQ(badSwitch.status, 2);
  EXPECT_NE(badSwitch.err.find("unknown rule switch 'QQ'"), std::string::npos);
  Result help = runZelk({"--help"}, "");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--player1 HAND"), std::string::npos);
}

TEST(Zelk, AFullGameFromPipedInputEndsAtTheEndOfInput) {
  Result r = runZelk({"--player1", "2", "--player2", "34"}, "5\n\n4\n\n3\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(maskTiming(r.out),
            "player1牌:2\r\n"
            "player2牌:43  ---先出牌者\r\n"
            "哪方赢?\r\n"
            "开始暴力求解...\r\n"
            "最终获胜方是 player1 \r\n"
            "推演牌局总数 5 牌局树牌局数 5(100.00%) N1=2 speed S/s sec T.TTTs \r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 2 player2 34】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:5\n"
            "player2出牌不合法\n"
            "player2:player2过牌\n"
            "player2出牌不合法\n"
            "player2:player2出牌:4\n"
            "player1出牌:2\n"
            "player1赢\r\n"
            "按回车键重玩此局...\r\n"
            "\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
            "牌局【player1 2 player2 34】轮到player2出牌(回车表示过牌)..\n"
            "player2:player2出牌:3\n"
            "player1出牌:2\n"
            "player1赢\r\n"
            "按回车键重玩此局...\r\n");
}

TEST(Zelk, MachineAsPlayer2) {
  Result r = runZelk({"--player1", "3", "--player2", "45"}, "\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(maskTiming(r.out).find(
                "\r\n现在开始游戏...机器扮演player2...玩家扮演player1...\r\n"
                "牌局【player1 3 player2 45】轮到player2出牌(回车表示过牌)..\n"
                "player2出牌:4\n"
                "牌局【player1 3 player2 5】轮到player1出牌(回车表示过牌)..\n"
                "player1:player1过牌\n"
                "player2出牌:5\n"
                "player2赢\r\n"
                "按回车键重玩此局...\r\n"),
            std::string::npos)
      << r.out;
}

TEST(Zelk, SwitchesAndNoReplay) {
  // With every kind but singles off, player2 has one opening play per rank.
  Result r = runZelk({"--no-replay", "--off", "D,3,31,32,411,422,F,F11,F22,SZ,LD,ZD,WZ"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("N1=6 "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("现在开始游戏"), std::string::npos);
}

TEST(Zelk, ListingMode) {
  Result r = runZelk({"--u1f", "--player1", "3", "--player2", "45"}, "hi\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("C:[45][][3]--while--个子\r\nfindcU1C:List of U1\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("input:e-cho:hi\r\ninput:"), std::string::npos) << r.out;
}

// Ctrl-C on a terminal stops a long search (the full solve would take minutes;
// the bound is loose because sanitizer builds run several times slower).
TEST(Zelk, CtrlCStopsALongSearch) {
  Terminal t({"--player1", "2AKQJ09876543", "--player2", "2AKQJ09876543"});
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("开始暴力求解", std::chrono::seconds(10))) << t.seen;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(t.seen.find("最终获胜方") == std::string::npos) << "the search ended too soon";
  t.type(3);
  EXPECT_EQ(t.exitWithin(std::chrono::seconds(10)), 130);
}

// Ctrl-C while the replay waits for the user's line.
TEST(Zelk, CtrlCStopsAWaitingReplay) {
  Terminal t({});
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("player2:", std::chrono::seconds(10))) << t.seen;
  t.type(3);
  EXPECT_EQ(t.exitWithin(std::chrono::seconds(5)), 130);
}

}  // namespace
