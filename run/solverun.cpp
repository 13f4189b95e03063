// The solving run: opening, search, report, then the replay on the console.
//
// Every console line is followed by a stop check, so a stop request or a
// console that went away ends the run at the next line. The replay walks the
// solved tree: the user's play must match a child of the current position,
// and the machine answers with the first child the solver proved winning.
#include "run/solverun.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "base/output.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text.h"
#include "rules/cards.h"
#include "rules/playtypes.h"
#include "rules/switches.h"
#include "solver/nodepool.h"
#include "solver/ticker.h"

namespace zelk {

namespace {

std::mutex reportMutex;
RunReport lastReport;

// Ends the run when a stop was requested.
bool stopCheck() {
  if (!stopRequested()) return false;
  LogPrint(u"ERRORBREAK!\r\n");
  return true;
}

// A hand as the root stores it: 8-bit, ascending, at most MAXPN cards.
void seedHand(char (&field)[CARD_FIELD], const std::u16string& typed) {
  std::string cards = narrow(typed);
  if (cards.size() > static_cast<std::size_t>(MAXPN)) cards.resize(MAXPN);
  sortCardsAsc(cards);
  std::memcpy(field, cards.c_str(), cards.size() + 1);
}

enum class Step { Go, End };

// Where the engine keeps no tree, the position's children (as the
// exhaustive solver would have kept them) are made when the replay first
// reaches it.
bool growFromEngine(Engine& engine, GameNode* p) {
  try {
    engine.grow(p);
    return true;
  } catch (const CMemoryException& e) {
    memoryFailure(e.what());
  } catch (const std::bad_alloc& e) {
    memoryFailure(e.what());
  }
  return false;
}

// The machine's answer from position p: the first child proved won for it.
// Returns null after the anomaly line when there is none (the game ends).
Step machineMove(Engine& engine, GameNode* p, char machine, bool firstLead, GameNode** out) {
  *out = nullptr;
  if (!growFromEngine(engine, p)) return Step::End;
  GameNode* pick = nullptr;
  if (p->turn == machine)
    for (GameNode* c = p->child; c; c = c->next)
      if (c->result == machine) {
        pick = c;
        break;
      }
  if (!pick) {
    ConsolePrint(0, machine == '1' ? u"zelkmain:异常:player1出牌不合法\n"
                                   : u"zelkmain:异常:player2出牌不合法\n");
    return stopCheck() ? Step::End : Step::Go;
  }
  if (pick->lastPlay[0] != '\0') {
    ConsolePrint(0, machine == '1' ? u"player1出牌:%s\n" : u"player2出牌:%s\n", pick->lastPlay);
  } else if (firstLead) {
    ConsolePrint(0, u"player2出牌:过================异常!!!!!!\n");
  } else {
    ConsolePrint(0, machine == '1' ? u"player1出牌:过\n" : u"player2出牌:过\n");
  }
  if (stopCheck()) return Step::End;
  *out = pick;
  return Step::Go;
}

// The user's play from position p, asked until it matches a child.
Step userMove(Engine& engine, GameNode* p, bool userIsU2, GameNode** out) {
  *out = nullptr;
  if (!growFromEngine(engine, p)) return Step::End;
  for (;;) {
    if (stopCheck()) return Step::End;
    ConsolePrint(0, userIsU2 ? u"player2:" : u"player1:");
    if (stopCheck()) return Step::End;
    std::u16string line;
    if (ReadConsoleLine(line) != 0) {
      if (stopRequested()) LogPrint(u"ERRORBREAK!\r\n");
      return Step::End;
    }
    std::u16string typed;
    for (char16_t c : line) {
      if (c == u' ') continue;
      typed.push_back(c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c);
    }
    if (typed.empty()) {
      ConsolePrint(0, userIsU2 ? u"player2过牌\n" : u"player1过牌\n");
    } else {
      ConsolePrint(0, userIsU2 ? u"player2出牌:%s\n" : u"player1出牌:%s\n", typed);
    }
    if (stopCheck()) return Step::End;

    std::string play = narrow(typed);
    GameNode* child = nullptr;
    // A play longer than any hand can never match a child; it never reaches
    // the fixed-size card fields. Nor can a play holding a NUL, which those
    // fields would cut short into some other, perhaps legal, play.
    if (play.size() <= static_cast<std::size_t>(MAXPN) && play.find('\0') == std::string::npos) {
      char hand[CARD_FIELD];
      std::strcpy(hand, userIsU2 ? p->u2Cards : p->u1Cards);
      for (char card : play)
        if (char* at = std::strchr(hand, card)) std::memmove(at, at + 1, std::strlen(at + 1) + 1);
      bool verbose = on(F_DEBUG);
      child = userIsU2 ? findC(p, p->u1Cards, hand, play.c_str(), verbose)
                       : findC(p, hand, p->u2Cards, play.c_str(), verbose);
    }
    if (child) {
      *out = child;
      return Step::Go;
    }
    ConsolePrint(0, userIsU2 ? u"player2出牌不合法\n" : u"player1出牌不合法\n");
  }
}

// Ends a game with its win message.
Step win(const char16_t* message) {
  ConsolePrint(0, message);
  return stopCheck() ? Step::End : Step::Go;
}

const char16_t* const U1_WINS = u"player1赢\r\n";
const char16_t* const U2_WINS = u"player2赢\r\n";

const char16_t* const POSITION_U2 =
    u"牌局【player1 %s player2 %s】轮到player2出牌(回车表示过牌)..\n";
const char16_t* const POSITION_U1 =
    u"牌局【player1 %s player2 %s】轮到player1出牌(回车表示过牌)..\n";

// The machine plays player1; the user leads as player2.
Step gameMachineU1(Engine& engine, GameNode* root) {
  ConsolePrint(0, u"\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n");
  if (stopCheck()) return Step::End;
  GameNode* current = root;
  if (current->u1Cards[0] == '\0') return win(U1_WINS);
  for (;;) {
    if (current->u2Cards[0] == '\0') return win(U2_WINS);
    ConsolePrint(0, POSITION_U2, current->u1Cards, current->u2Cards);
    if (stopCheck()) return Step::End;
    GameNode* played;
    if (userMove(engine, current, true, &played) == Step::End) return Step::End;
    GameNode* answer;
    if (machineMove(engine, played, '1', false, &answer) == Step::End) return Step::End;
    if (!answer) return Step::Go;  // no winning answer: this game cannot go on
    current = answer;
    if (current->u1Cards[0] == '\0') return win(U1_WINS);
  }
}

// The machine leads as player2; the user plays player1.
Step gameMachineU2(Engine& engine, GameNode* root) {
  ConsolePrint(0, u"\r\n现在开始游戏...机器扮演player2...玩家扮演player1...\r\n");
  if (stopCheck()) return Step::End;
  GameNode* current = root;
  bool first = true;
  for (;;) {
    if (current->u1Cards[0] == '\0') return win(U1_WINS);
    if (current->u2Cards[0] == '\0') return win(U2_WINS);
    if (first) {
      first = false;
      ConsolePrint(0, POSITION_U2, root->u1Cards, root->u2Cards);
      if (stopCheck()) return Step::End;
      GameNode* answer;
      if (machineMove(engine, root, '2', true, &answer) == Step::End) return Step::End;
      if (!answer) return Step::Go;
      current = answer;
      if (current->u1Cards[0] == '\0') return win(U1_WINS);
      if (current->u2Cards[0] == '\0') return win(U2_WINS);
    }
    ConsolePrint(0, POSITION_U1, current->u1Cards, current->u2Cards);
    if (stopCheck()) return Step::End;
    GameNode* played;
    if (userMove(engine, current, false, &played) == Step::End) return Step::End;
    if (played->u1Cards[0] == '\0') return win(U1_WINS);
    GameNode* answer;
    if (machineMove(engine, played, '2', false, &answer) == Step::End) return Step::End;
    if (!answer) return Step::Go;
    current = answer;
  }
}

// F_U1F: player1 led; list its first plays and echo what is typed. Only a
// stop ends it, at the check after the next line.
void listingMode(GameNode* root) {
  for (GameNode* c = root->child; c; c = c->next) {
    ConsolePrint(0, u"C:[%s][%s][%s]--while--%s\r\n", c->u2Cards, c->u1Cards, c->lastPlay,
                 pt2Str(c->playType));
    if (stopCheck()) return;
  }
  ConsolePrint(0, u"findcU1C:List of U1\n");
  if (stopCheck()) return;
  if (root->result == '1') {
    ConsolePrint(0,
                 u"由于U1成了赢家，所以U1的出牌表是不完整的!!!!\r\n"
                 u"你只有让U1成为输家，才能看到U1的完整出牌表!!!\r\n");
    if (stopCheck()) return;
  }
  for (;;) {
    ConsolePrint(0, u"input:");
    if (stopCheck()) return;
    std::u16string line;
    if (ReadConsoleLine(line) == 0) {
      ConsolePrint(0, u"e-cho:%s\r\n", line);
      if (stopCheck()) return;
    } else if (stopCheck()) {
      return;
    }
  }
}

void markFailed() {
  std::lock_guard<std::mutex> g(reportMutex);
  lastReport.failed = true;
}

}  // namespace

void memoryFailure(const char* what) {
  {
    std::lock_guard<std::mutex> g(reportMutex);
    lastReport.failed = true;
    lastReport.failure = std::string("out of memory: ") + (what ? what : "");
  }
  setStop(1);
  std::u16string text = utf8ToUtf16(what ? what : "");
  if (text.size() > 1024) text.resize(1024);
  LogPrint(u"zelkmain:catched CMemoryException(%s)!\r\n", text);
  LogPrint(u"zelkmain:内存失败，求解线程将终止!!!\r\n");
  LogPrint(u"ERRORBREAK!\r\n");
}

RunReport lastRunReport() {
  std::lock_guard<std::mutex> g(reportMutex);
  return lastReport;
}

int ReadConsoleLine(std::u16string& line) {
  std::shared_ptr<Console> console = currentConsole();
  char16_t buffer[1025];
  std::size_t position = 0;
  for (;;) {
    char16_t c;
    if (!console || !console->readChar(c)) {
      // A last line without its line end is a line all the same; the end
      // of input comes with the next read.
      if (console && position > 0 && console->error() == END_OF_INPUT_ERROR) {
        line.assign(buffer, position);
        return 0;
      }
      LogPrint(u"ReadConsoleLine:eno %d\r\n", console ? console->error() : NO_CONSOLE_ERROR);
      setStop(1);
      return 1;
    }
    if (c == 13) continue;
    if (c == 10) {
      line.assign(buffer, position);
      return 0;
    }
    // Past the 1024th character the last slot is overwritten and finally
    // replaced by the terminator: the line keeps its first 1024 characters.
    buffer[position] = c;
    if (position < 1024) ++position;
  }
}

RunReport reportOf(const Engine& engine, const Verdict& verdict, int64_t openingPlays,
                   uint32_t elapsedMs) {
  RunReport r;
  r.completed = true;
  r.winner = verdict.result;
  if (verdict.found) {
    r.firstPlay = verdict.play;
    r.firstPlayType = verdict.type;
  }
  r.positions = engine.positionsSearched();
  r.keptPositions = engine.positionsKept(nullptr);
  r.openingPlays = openingPlays;
  r.engine = engine.name();
  r.elapsedMs = std::max<uint32_t>(elapsedMs, 1);
  return r;
}

int zelkmain(GameNode* root, const SolveRequest& request) {
  {
    std::lock_guard<std::mutex> g(reportMutex);
    lastReport = RunReport{};
  }
  // Opening.
  setStop(0);
  LogPrint(u"zelkmain:\r\n");
  ConsolePrint(0, u"player1牌:%s\r\n", request.player1);
  if (stopCheck()) return 1;
  ConsolePrint(0, u"player2牌:%s  ---先出牌者\r\n", request.player2);
  if (stopCheck()) return 1;
  ConsolePrint(0, u"哪方赢?\r\n");
  if (stopCheck()) return 1;
  seedHand(root->u1Cards, request.player1);
  seedHand(root->u2Cards, request.player2);
  root->lastPlay[0] = '\0';
  root->playType = TYPE_PASS;
  root->turn = '2';
  root->result = RESULT_OPEN;
  ConsolePrint(0, u"开始暴力求解...\r\n");

  // Search: the verdict and, where the leader wins, its first play.
  uint32_t t0 = 0, t1 = 0;
  std::unique_ptr<Engine> engine;
  const int64_t openingPlays = openingPlayCount(root->u2Cards, request.engine.rules);
  try {
    engine = request.makeEngine ? request.makeEngine(request.engine) : makeEngine(request.engine);
    if (request.u1First) root->turn = '1';
    tickSeconds.exchange(0);  // the progress lines count from here
    t0 = tickCount();
    engine->solve(root);
    t1 = tickCount();
    if (request.u1First) {
      listingMode(root);
      return 1;
    }
  } catch (const CMemoryException& e) {
    memoryFailure(e.what());
    return 1;
  } catch (const std::bad_alloc& e) {
    memoryFailure(e.what());
    return 1;
  } catch (...) {
    markFailed();
    setStop(1);
    ConsolePrint(0, u"zelkmain:catched expect(未知)\r\n");
    LogPrint(u"zelkmain:未知异常，求解线程将终止!!!\r\n");
    LogPrint(u"ERRORBREAK!\r\n");
    return 1;
  }

  // Report.
  LogPrint(u"zelkmain:ZelkSolver reted!\r\n");
  if (stopCheck()) return 1;
  ConsolePrint(0, u"最终获胜方是 player%c \r\n", root->result);
  if (stopCheck()) return 1;
  const uint32_t elapsed = std::max<uint32_t>(t1 - t0, 1);
  {
    std::lock_guard<std::mutex> g(reportMutex);
    lastReport.completed = true;
    lastReport.winner = root->result;
    lastReport.positions = engine->positionsSearched();
    lastReport.keptPositions = engine->positionsKept(root);
    lastReport.openingPlays = openingPlays;
    lastReport.engine = engine->name();
    lastReport.elapsedMs = elapsed;
    if (root->result == '2' && root->child) {
      lastReport.firstPlay = root->child->lastPlay;
      lastReport.firstPlayType = root->child->playType;
    }
  }
  ConsolePrint(0, u"%s", engine->statisticsLine(root, openingPlays, elapsed));
  if (stopCheck()) return 1;
  if (!request.replay) return 1;

  // Replay, game after game.
  for (;;) {
    if (root->turn != '2' || (root->result != '1' && root->result != '2')) {
      LogPrint(u"zelkmain:异常，没有算出最终胜利方\r\n");
      markFailed();
      setStop(1);
      LogPrint(u"ERRORBREAK!\r\n");
      return 1;
    }
    Step game = root->result == '1' ? gameMachineU1(*engine, root) : gameMachineU2(*engine, root);
    if (game == Step::End) return 1;
    ConsolePrint(0, u"按回车键重玩此局...\r\n");
    std::u16string line;
    if (ReadConsoleLine(line) == 0) {
      LogPrint(u"zelkmain:[%s]\r\n", line);
    } else if (stopCheck()) {
      return 1;
    }
  }
}

}  // namespace zelk
