// The solving run's modes that judge plays by their moves to win: the
// analysis of every play of a position, and practice, where the user plays
// the winning side against the machine's longest defence.
//
// Both ask the fast engine's Analysis. Practice keeps no tree: the position
// is a value that each play replaces, and the positions at the user's turns
// are kept so that a play can be taken back.
#include <algorithm>
#include <vector>

#include "base/output.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "rules/playtypes.h"
#include "run/runsteps.h"
#include "solver/analysis.h"
#include "solver/fastmoves.h"

namespace zelk::runsteps {

namespace {

// An analysis that cannot go on: the engine has none, or a position is none.
void analysisFailed(const char16_t* why) {
  LogPrint(why);
  markFailed();
  setStop(1);
  LogPrint(u"ERRORBREAK!\r\n");
}

Analysis* analysisOf(Engine& engine) {
  Analysis* analysis = engine.analysis();
  if (!analysis) analysisFailed(u"zelkmain:异常，制胜步数只有快速引擎能算\r\n");
  return analysis;
}

// True for a verdict; false after a stop, or for a position that is none
// (the analysis has logged why).
bool answered(const Analysis::Outcome& outcome) {
  if (outcome.winner == RESULT_U1 || outcome.winner == RESULT_U2) return true;
  if (outcome.winner == RESULT_STOPPED)
    stopCheck();
  else
    analysisFailed(u"zelkmain:异常，没有算出最终胜利方\r\n");
  return false;
}

// One judged play: its cards and type, or the pass; then who wins after it
// and its moves to win.
bool playLine(const Analysis::JudgedPlay& p) {
  if (p.cards.empty())
    ConsolePrint(0, u"过: player%c赢 %d步\r\n", p.after.winner, p.after.movesToWin);
  else
    ConsolePrint(0, u"%s(%s): player%c赢 %d步\r\n", p.cards, pt2Str(p.type), p.after.winner,
                 p.after.movesToWin);
  return !stopCheck();
}

}  // namespace

void analyseRun(Engine& engine, const Position& position, fast::Rules rules) {
  Analysis* analysis = analysisOf(engine);
  if (!analysis) return;
  std::vector<Analysis::JudgedPlay> plays;
  const uint32_t t0 = tickCount();
  const Analysis::Outcome outcome = analysis->analyse(position, plays);
  const uint32_t elapsed = std::max<uint32_t>(tickCount() - t0, 1);
  LogPrint(u"zelkmain:Analysis reted!\r\n");
  if (stopCheck() || !answered(outcome)) return;
  for (const Analysis::JudgedPlay& p : plays)
    if (!playLine(p)) return;
  ConsolePrint(0, u"最终获胜方是 player%c \r\n", outcome.winner);
  if (stopCheck()) return;
  ConsolePrint(0, u"制胜步数 %d \r\n", outcome.movesToWin);
  if (stopCheck()) return;
  const int64_t positions = std::max<int64_t>(analysis->positionsSearched(), 1);
  ConsolePrint(0, u"分析局面总数 %I64d speed %I64d/s sec %0.3fs \r\n", positions,
               positions * 1000 / elapsed, static_cast<float>(elapsed) / 1000.0f);
  updateReport([&](RunReport& r) {
    r.completed = true;
    r.winner = outcome.winner;
    r.movesToWin = outcome.movesToWin;
    r.positions = positions;
    r.keptPositions = engine.positionsKept(nullptr);
    r.openingPlays = moverPlayCount(position, rules);
    r.engine = engine.name();
    r.elapsedMs = elapsed;
    for (const Analysis::JudgedPlay& p : plays) {
      r.plays.push_back(AnalysedPlay{p.cards, p.type, p.after.winner, p.after.movesToWin});
      if (r.firstPlayType < 0 && p.after.winner == position.turn) {
        r.firstPlay = p.cards;
        r.firstPlayType = p.type;
      }
    }
  });
}

namespace {

enum class Step { Go, End };

// The position after the mover plays `cards` (a hand; 0 for the pass).
Position after(const Position& p, fast::Hand cards, const std::string& written, int type) {
  Position next = p;
  std::string& hand = p.turn == RESULT_U1 ? next.u1Cards : next.u2Cards;
  fast::Hand h = 0;
  fast::handFromCards(hand, h);
  hand = fast::handToCards(h - cards);
  next.lastPlay = cards ? written : std::string();
  next.playType = cards ? type : TYPE_PASS;
  next.turn = otherSide(p.turn);
  return next;
}

bool emptyHand(const Position& p, char side) {
  return (side == RESULT_U1 ? p.u1Cards : p.u2Cards).empty();
}

// One practice game and the turns of it the user can go back to.
class Practice {
 public:
  Practice(Analysis& analysis, fast::Rules rules, char user, int best)
      : analysis_(analysis), rules_(rules), user_(user), machine_(otherSide(user)), best_(best) {}

  Step play(const Position& start) {
    ConsolePrint(0, u"\r\n现在开始练习...机器扮演player%c...你扮演player%c(必胜方)...\r\n",
                 machine_, user_);
    if (stopCheck()) return Step::End;
    ConsolePrint(0, u"输入?列出必胜出法，输入u悔棋，回车表示过牌\r\n");
    if (stopCheck()) return Step::End;
    if (showPlayToBeat(start.lastPlay, start.playType)) return Step::End;
    Turn turn{start, true, best_, 0};
    history_.clear();
    if (start.turn == machine_ && machineMove(turn) == Step::End) return Step::End;
    for (;;) {
      if (emptyHand(turn.position, machine_)) return end(turn, false);
      Step step = userTurn(turn);
      if (step == Step::End) return step;
      if (emptyHand(turn.position, user_)) return end(turn, true);
      if (machineMove(turn) == Step::End) return Step::End;
    }
  }

 private:
  // Where the user is to play, and how the game stands there.
  struct Turn {
    Position position;
    bool winning;    // the user still wins
    int movesToWin;  // the user's moves to win, while winning
    int userPlays;   // card plays so far
  };

  // Reads lines until the user has played; `turn` then holds the position
  // after the play.
  Step userTurn(Turn& turn) {
    const char16_t* const prompt = user_ == RESULT_U1 ? u"player1:" : u"player2:";
    ConsolePrint(0, positionLine(user_), turn.position.u1Cards, turn.position.u2Cards);
    if (stopCheck()) return Step::End;
    for (;;) {
      ConsolePrint(0, prompt);
      if (stopCheck()) return Step::End;
      std::u16string line;
      if (ReadConsoleLine(line) != 0) {
        if (stopRequested()) LogPrint(u"ERRORBREAK!\r\n");
        return Step::End;
      }
      const std::u16string typed = typedPlay(line);
      if (typed == u"?") {
        if (hints(turn.position) == Step::End) return Step::End;
        continue;
      }
      if (typed == u"U") {
        if (history_.empty()) {
          ConsolePrint(0, u"没有可以悔的棋\r\n");
          if (stopCheck()) return Step::End;
          continue;
        }
        turn = history_.back();
        history_.pop_back();
        ConsolePrint(0, u"悔棋：退回你的上一步\r\n");
        if (stopCheck()) return Step::End;
        if (showPlayToBeat(turn.position.lastPlay, turn.position.playType)) return Step::End;
        ConsolePrint(0, positionLine(user_), turn.position.u1Cards, turn.position.u2Cards);
        if (stopCheck()) return Step::End;
        continue;
      }
      if (typed.empty())
        ConsolePrint(0, user_ == RESULT_U1 ? u"player1过牌\n" : u"player2过牌\n");
      else
        ConsolePrint(0, user_ == RESULT_U1 ? u"player1出牌:%s\n" : u"player2出牌:%s\n", typed);
      if (stopCheck()) return Step::End;
      fast::Move m;
      if (!legalPlay(turn.position, narrow(typed), m)) {
        ConsolePrint(0, user_ == RESULT_U1 ? u"player1出牌不合法\n" : u"player2出牌不合法\n");
        if (stopCheck()) return Step::End;
        continue;
      }
      history_.push_back(turn);
      turn.position = after(turn.position, m.cards, fast::moveCards(m), m.type);
      if (m.cards) ++turn.userPlays;
      return Step::Go;
    }
  }

  // The user's typed cards as a legal play: the first in canonical order
  // that plays these cards (Enter alone: the pass).
  bool legalPlay(const Position& p, const std::string& typed, fast::Move& out) {
    fast::Hand cards = 0, hand = 0;
    fast::Beat beat;
    if (typed.size() > static_cast<std::size_t>(MAXPN) || !fast::handFromCards(typed, cards) ||
        !fast::handFromCards(p.turn == RESULT_U1 ? p.u1Cards : p.u2Cards, hand) ||
        !fast::beatFromPlay(p.lastPlay, p.playType, beat))
      return false;
    moves_.resize(fast::MAX_MOVES);
    const int count = fast::generateMoves(hand, beat, rules_, moves_.data());
    for (int i = 0; i < count; ++i)
      if (moves_[static_cast<std::size_t>(i)].cards == cards) {
        out = moves_[static_cast<std::size_t>(i)];
        return true;
      }
    return false;
  }

  // `?`: the plays that keep the win, each with its moves to win.
  Step hints(const Position& p) {
    std::vector<Analysis::JudgedPlay> plays;
    const Analysis::Outcome o = analysis_.analyse(p, plays, true);
    if (!answered(o)) return Step::End;
    if (plays.empty()) {
      ConsolePrint(0, u"没有必胜的出法\r\n");
      return stopCheck() ? Step::End : Step::Go;
    }
    ConsolePrint(0, u"必胜出法:\r\n");
    if (stopCheck()) return Step::End;
    for (const Analysis::JudgedPlay& play : plays)
      if (!playLine(play)) return Step::End;
    return Step::Go;
  }

  // The machine's reply: the longest defence while the user wins, the
  // quickest win once he has thrown his away.
  Step machineMove(Turn& turn) {
    const Analysis::JudgedPlay reply = analysis_.reply(turn.position);
    if (!answered(reply.after)) return Step::End;
    if (reply.after.winner == machine_ && turn.winning) {
      ConsolePrint(0, u"这步丢掉了胜局(本来还需%d步就能赢)，机器现在走必胜\r\n", turn.movesToWin);
      if (stopCheck()) return Step::End;
      turn.winning = false;
    }
    if (reply.after.winner == user_) turn.movesToWin = reply.after.movesToWin;
    if (reply.cards.empty())
      ConsolePrint(0, machine_ == RESULT_U1 ? u"player1出牌:过\n" : u"player2出牌:过\n");
    else
      ConsolePrint(0, machine_ == RESULT_U1 ? u"player1出牌:%s\n" : u"player2出牌:%s\n",
                   reply.cards);
    if (stopCheck()) return Step::End;
    fast::Hand cards = 0;
    fast::handFromCards(reply.cards, cards);
    turn.position = after(turn.position, cards, reply.cards, reply.type);
    return Step::Go;
  }

  // The win message, then how the user did against the best possible.
  Step end(const Turn& turn, bool won) {
    const char winner = won ? user_ : machine_;
    ConsolePrint(0, winner == RESULT_U1 ? u"player1赢\r\n" : u"player2赢\r\n");
    if (stopCheck()) return Step::End;
    if (won)
      ConsolePrint(0, u"你赢了：出牌%d步，最少%d步\r\n", turn.userPlays, best_);
    else
      ConsolePrint(0, u"你输了：出牌%d步，本可%d步赢\r\n", turn.userPlays, best_);
    return stopCheck() ? Step::End : Step::Go;
  }

  Analysis& analysis_;
  const fast::Rules rules_;
  const char user_, machine_;
  const int best_;
  std::vector<Turn> history_;
  std::vector<fast::Move> moves_;
};

}  // namespace

void practiceRun(Engine& engine, const Position& position, fast::Rules rules) {
  Analysis* analysis = analysisOf(engine);
  if (!analysis) return;
  const Analysis::Outcome outcome = analysis->judge(position);
  LogPrint(u"zelkmain:Analysis reted!\r\n");
  if (stopCheck() || !answered(outcome)) return;
  ConsolePrint(0, u"最终获胜方是 player%c \r\n", outcome.winner);
  if (stopCheck()) return;
  ConsolePrint(0, u"制胜步数 %d \r\n", outcome.movesToWin);
  if (stopCheck()) return;
  updateReport([&](RunReport& r) {
    r.completed = true;
    r.winner = outcome.winner;
    r.movesToWin = outcome.movesToWin;
    r.engine = engine.name();
  });
  if (outcome.winner != position.turn) {
    ConsolePrint(0, u"先出牌的player%c必输，你改为扮演player%c\r\n", position.turn, outcome.winner);
    if (stopCheck()) return;
  }
  Practice practice(*analysis, rules, outcome.winner, outcome.movesToWin);
  for (;;) {
    if (practice.play(position) == Step::End) return;
    ConsolePrint(0, u"按回车键重玩此局...\r\n");
    std::u16string line;
    if (ReadConsoleLine(line) == 0) {
      LogPrint(u"zelkmain:[%s]\r\n", line);
    } else if (stopCheck()) {
      return;
    }
  }
}

}  // namespace zelk::runsteps
