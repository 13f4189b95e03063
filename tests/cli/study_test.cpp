// Positions from the middle of a game, --analyse and --practice through the
// real `zelk` binary, held against the engine's own Analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/text.h"
#include "rules/playtypes.h"
#include "solver/analysis.h"
#include "zelkprocess.h"

namespace zelk {
namespace {

using zelktest::Result;
using zelktest::runZelk;

struct Study {
  FastEngine engine{std::size_t(64) << 20};
  Analysis analysis{engine, std::size_t(64) << 20};
  Study() { engine.setProgress(false), analysis.setProgress(false); }
  std::vector<Analysis::JudgedPlay> plays(const Position& p, bool winningOnly = false) {
    std::vector<Analysis::JudgedPlay> out;
    analysis.analyse(p, out, winningOnly);
    return out;
  }
};

Position after(Position p, const Analysis::JudgedPlay& play) {
  std::string& hand = p.turn == '1' ? p.u1Cards : p.u2Cards;
  for (char c : play.cards) hand.erase(hand.find(c), 1);
  p.lastPlay = play.cards;
  p.playType = play.type;
  p.turn = p.turn == '1' ? '2' : '1';
  return p;
}

// The play with the most (or fewest) moves to win, the first in canonical
// order among equals.
Analysis::JudgedPlay pick(const std::vector<Analysis::JudgedPlay>& plays, bool most) {
  auto fewer = [](const auto& a, const auto& b) { return a.after.movesToWin < b.after.movesToWin; };
  return most ? *std::max_element(plays.begin(), plays.end(), fewer)
              : *std::min_element(plays.begin(), plays.end(), fewer);
}

// Each line in order, anywhere after the one before.
void expectInOrder(const std::string& out, const std::vector<std::string>& lines) {
  std::size_t at = 0;
  for (const std::string& line : lines) {
    const std::size_t found = out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing after " << at << ": " << line << "\n" << out;
    at = found + line.size();
  }
}

std::string judged(const Analysis::JudgedPlay& p) {
  return (p.cards.empty() ? "过" : p.cards + "(" + utf16ToUtf8(pt2Str(p.type)) + ")") + ": player" +
         p.after.winner + "赢 " + std::to_string(p.after.movesToWin) + "步\r\n";
}

// A hint, a play that throws the win away, its take-back, then the quickest
// win; every machine reply is the longest defence the analysis of all its
// plays finds (the quickest win once the user's is gone).
TEST(Practice, HintWrongPlayTakeBackAndAWonGame) {
  Study study;
  const Position start{"9QKK", "35577JJQQ2", "", TYPE_PASS, '2'};
  std::string script = "?\n";
  std::vector<std::string> expected = {"制胜步数 6 \r\n", "player2:必胜出法:\r\n"};
  for (const Analysis::JudgedPlay& p : study.plays(start, true)) expected.push_back(judged(p));
  std::vector<Analysis::JudgedPlay> all = study.plays(start);
  auto wrong =
      std::find_if(all.begin(), all.end(), [](const auto& p) { return p.after.winner == '1'; });
  ASSERT_NE(wrong, all.end());
  script += wrong->cards + "\nu\n";
  const Position lost = after(start, *wrong);
  expected.insert(expected.end(), {"player2出牌:" + wrong->cards + "\n",
                                   "这步丢掉了胜局(本来还需6步就能赢)，机器现在走必胜\r\n",
                                   "player1出牌:" + pick(study.plays(lost), false).cards + "\n",
                                   "player2:悔棋：退回你的上一步\r\n"});
  Position p = start;
  for (;;) {
    const Analysis::JudgedPlay mine = pick(study.plays(p, true), false);
    script += mine.cards + "\n";
    expected.push_back(mine.cards.empty() ? "player2过牌\n" : "player2出牌:" + mine.cards + "\n");
    p = after(p, mine);
    if (p.u2Cards.empty()) break;
    const Analysis::JudgedPlay reply = pick(study.plays(p), true);
    EXPECT_EQ(reply.after.winner, '2');
    expected.push_back("player1出牌:" + (reply.cards.empty() ? "过" : reply.cards) + "\n");
    p = after(p, reply);
  }
  expected.insert(expected.end(), {"player2赢\r\n", "你赢了：出牌6步，最少6步\r\n"});
  Result r = runZelk({"--practice", "--player1", "KKQ9", "--player2", "2QQJJ77553"}, script);
  EXPECT_EQ(r.status, 0) << r.err;
  expectInOrder(r.out, expected);
}

TEST(Analyse, JsonOfAPositionFromMidGame) {
  Study study;
  const Position p{"9QKK", "357JJQQ2", "77", TYPE_D, '1'};
  std::string plays;
  for (const Analysis::JudgedPlay& j : study.plays(p)) {
    plays += std::string(plays.empty() ? "" : ",") + "{\"play\":\"" + j.cards + "\",\"type\":\"" +
             utf16ToUtf8(pt2Str(j.type)) + "\",\"winner\":" + j.after.winner +
             ",\"moves_to_win\":" + std::to_string(j.after.movesToWin) + "}";
  }
  const Analysis::Outcome o = study.analysis.judge(p);
  Result r = runZelk({"--analyse", "--json", "--player1", "KKQ9", "--player2", "2QQJJ753",
                      "--mover", "1", "--to-beat", "77"},
                     "");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string expected = R"({"player1":"KKQ9","player2":"2QQJJ753","mover":1,)"
                               R"("to_beat":"77","to_beat_type":"对子","plays":[)" +
                               plays + "],\"winner\":" + o.winner +
                               ",\"moves_to_win\":" + std::to_string(o.movesToWin) + ",";
  EXPECT_EQ(r.out.substr(0, expected.size()), expected) << r.out;
  // The text form: one line a play, then the verdict.
  Result text = runZelk({"--analyse", "--player1", "KKQ9", "--player2", "2QQJJ753", "--mover", "1",
                         "--to-beat", "77"},
                        "");
  std::vector<std::string> lines = {"轮到player1出牌，要压的牌:77(对子)\r\n"};
  for (const Analysis::JudgedPlay& j : study.plays(p)) lines.push_back(judged(j));
  lines.push_back(std::string("最终获胜方是 player") + o.winner + " \r\n");
  expectInOrder(text.out, lines);
}

// A long analysis shows its progress line and stops on Ctrl-C as a solve does.
TEST(Analyse, CtrlCStopsALongAnalysis) {
  using namespace std::chrono_literals;
  zelktest::Terminal t(
      {"--analyse", "--player1", "34677888990QKKA22", "--player2", "345667790JJJJQKA2"});
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("sec 1  推演", 30s)) << t.seen;
  t.type(3);
  EXPECT_EQ(t.exitWithin(10s), 130);
  EXPECT_EQ(t.seen.find("最终获胜方"), std::string::npos) << t.seen;
  EXPECT_EQ(t.err, "zelk: stopped\n");
}

TEST(Position, RefusalsExitWithStatus2) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"--to-beat", "34"}, "34 is not a play of any type"},
      {{"--to-beat", "33", "--off", "D"}, "which the rule switches turn off"},
      {{"--to-beat-type", "D"}, "a play type needs the cards of the play to beat"},
      {{"--to-beat", "333444555666"}, "can be read as several plays"},
      {{"--to-beat", "33", "--to-beat-type", "SZ"}, "33 is not a play of type SZ"},
      {{"--mover", "0"}, "--mover is 1 (player1) or 2 (player2)"},
      {{"--engine", "exhaustive", "--analyse"}, "--analyse works with the fast engine only"},
      {{"--engine", "exhaustive", "--practice"}, "--practice works with the fast engine only"},
      {{"--analyse", "--practice"}, "--analyse does not go with --practice"},
      {{"--practice", "--json"}, "--practice does not go with --json"},
      {{"--practice", "--batch"}, "--practice does not go with --batch"},
      {{"--u1f", "--analyse"}, "--u1f does not go with --analyse"},
      {{"--u1f", "--mover", "1"}, "--u1f does not go with --mover"},
      {{"--batch", "--to-beat", "3"}, "--batch reads the position from each line"},
  };
  for (const auto& [args, err] : rows) {
    Result r = runZelk(args, "");
    EXPECT_EQ(r.status, 2) << err;
    EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << err;
  }
}

}  // namespace
}  // namespace zelk
