// The solving run: opening, search, report, then the replay on the console.
//
// Every console line is followed by a stop check, so a stop request or a
// console that went away ends the run at the next line. The replay walks the
// solved tree: the user's play must match a child of the current position,
// and the machine answers with the first child the solver proved winning.
//
// The run starts from any position: the opening one (player2 leads) or one
// from the middle of a game, with either player to move and a play on the
// table. The replay then starts with whoever moves there.
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
#include "run/runsteps.h"
#include "solver/nodepool.h"
#include "solver/ticker.h"

namespace zelk {

namespace {

std::mutex reportMutex;
RunReport lastReport;

}  // namespace

namespace runsteps {

bool stopCheck() {
  if (!stopRequested()) return false;
  LogPrint(u"ERRORBREAK!\r\n");
  return true;
}

void markFailed() {
  std::lock_guard<std::mutex> g(reportMutex);
  lastReport.failed = true;
}

void updateReport(const std::function<void(RunReport&)>& change) {
  std::lock_guard<std::mutex> g(reportMutex);
  change(lastReport);
}

std::u16string typedPlay(const std::u16string& line) {
  std::u16string typed;
  for (char16_t c : line) {
    if (c == u' ') continue;
    typed.push_back(c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c);
  }
  return typed;
}

const char16_t* positionLine(char mover) {
  return mover == RESULT_U1 ? u"牌局【player1 %s player2 %s】轮到player1出牌(回车表示过牌)..\n"
                            : u"牌局【player1 %s player2 %s】轮到player2出牌(回车表示过牌)..\n";
}

bool showPlayToBeat(const std::string& cards, int type) {
  if (cards.empty()) return false;
  ConsolePrint(0, u"要压的牌:%s(%s)\n", cards, pt2Str(type));
  return stopCheck();
}

char otherSide(char side) { return side == RESULT_U1 ? RESULT_U2 : RESULT_U1; }

}  // namespace runsteps

namespace {

using runsteps::markFailed;
using runsteps::otherSide;
using runsteps::positionLine;
using runsteps::stopCheck;

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
    ConsolePrint(0, machine == '1' ? u"player1出牌:过================异常!!!!!!\n"
                                   : u"player2出牌:过================异常!!!!!!\n");
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
    const std::u16string typed = runsteps::typedPlay(line);
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

// One game: the machine plays `machine`, the user the other side, and
// whoever moves at the root begins. From the opening position: the user
// leads as player2 when the machine plays player1, and the machine leads
// otherwise.
Step game(Engine& engine, GameNode* root, char machine) {
  const char user = otherSide(machine);
  ConsolePrint(0, machine == RESULT_U1
                      ? u"\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n"
                      : u"\r\n现在开始游戏...机器扮演player2...玩家扮演player1...\r\n");
  if (stopCheck()) return Step::End;
  if (runsteps::showPlayToBeat(root->lastPlay, root->playType)) return Step::End;
  GameNode* current = root;
  bool machineFirst = root->turn == machine;
  for (;;) {
    if (current->u1Cards[0] == '\0') return win(U1_WINS);
    if (current->u2Cards[0] == '\0') return win(U2_WINS);
    GameNode* answer;
    if (machineFirst) {
      machineFirst = false;
      ConsolePrint(0, positionLine(machine), root->u1Cards, root->u2Cards);
      if (stopCheck()) return Step::End;
      // Leading, the machine never passes.
      const bool lead = root->lastPlay[0] == '\0';
      if (machineMove(engine, root, machine, lead, &answer) == Step::End) return Step::End;
      if (!answer) return Step::Go;
      current = answer;
      continue;
    }
    ConsolePrint(0, positionLine(user), current->u1Cards, current->u2Cards);
    if (stopCheck()) return Step::End;
    GameNode* played;
    if (userMove(engine, current, user == RESULT_U2, &played) == Step::End) return Step::End;
    if ((user == RESULT_U1 ? played->u1Cards : played->u2Cards)[0] == '\0')
      return win(user == RESULT_U1 ? U1_WINS : U2_WINS);
    if (machineMove(engine, played, machine, false, &answer) == Step::End) return Step::End;
    if (!answer) return Step::Go;  // no winning answer: this game cannot go on
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

bool isOpening(const SolveRequest& request) {
  return request.mover == RESULT_U2 && request.toBeat.empty();
}

namespace {

// The opening lines: the hands, and where the run starts from elsewhere than
// the opening position, who moves and what he must beat.
bool openingLines(const SolveRequest& request) {
  ConsolePrint(0, u"player1牌:%s\r\n", request.player1);
  if (stopCheck()) return false;
  if (isOpening(request)) {
    ConsolePrint(0, u"player2牌:%s  ---先出牌者\r\n", request.player2);
    if (stopCheck()) return false;
  } else {
    ConsolePrint(0, u"player2牌:%s\r\n", request.player2);
    if (stopCheck()) return false;
    if (request.toBeat.empty())
      ConsolePrint(0, u"轮到player%c出牌\r\n", request.mover);
    else
      ConsolePrint(0, u"轮到player%c出牌，要压的牌:%s(%s)\r\n", request.mover, request.toBeat,
                   pt2Str(request.toBeatType));
    if (stopCheck()) return false;
  }
  ConsolePrint(0, u"哪方赢?\r\n");
  return !stopCheck();
}

// Runs `work`; an exception ends the run as a failed search does. False then.
template <class Work>
bool guarded(Work&& work) {
  try {
    work();
    return true;
  } catch (const CMemoryException& e) {
    memoryFailure(e.what());
  } catch (const std::bad_alloc& e) {
    memoryFailure(e.what());
  } catch (...) {
    markFailed();
    setStop(1);
    ConsolePrint(0, u"zelkmain:catched expect(未知)\r\n");
    LogPrint(u"zelkmain:未知异常，求解线程将终止!!!\r\n");
    LogPrint(u"ERRORBREAK!\r\n");
  }
  return false;
}

}  // namespace

int zelkmain(GameNode* root, const SolveRequest& request) {
  {
    std::lock_guard<std::mutex> g(reportMutex);
    lastReport = RunReport{};
  }
  // Opening.
  setStop(0);
  LogPrint(u"zelkmain:\r\n");
  if (!openingLines(request)) return 1;
  seedHand(root->u1Cards, request.player1);
  seedHand(root->u2Cards, request.player2);
  std::memcpy(root->lastPlay, request.toBeat.c_str(),
              std::min<std::size_t>(request.toBeat.size(), MAXPN) + 1);
  root->lastPlay[MAXPN] = '\0';
  root->playType = request.toBeatType;
  root->turn = request.mover;
  root->result = RESULT_OPEN;
  const Position position{root->u1Cards, root->u2Cards, root->lastPlay, root->playType, root->turn};
  EngineSettings settings = request.engine;
  settings.moverPlaysInProgress = !isOpening(request);
  std::unique_ptr<Engine> engine;
  if (request.mode != SolveMode::Solve) {
    ConsolePrint(0, request.mode == SolveMode::Analyse ? u"开始分析每种出法...\r\n"
                                                       : u"开始计算制胜步数...\r\n");
    if (stopCheck()) return 1;
    guarded([&] {
      engine = request.makeEngine ? request.makeEngine(settings) : makeEngine(settings);
      tickSeconds.exchange(0);
      if (request.mode == SolveMode::Analyse)
        runsteps::analyseRun(*engine, position, settings.rules);
      else
        runsteps::practiceRun(*engine, position, settings.rules);
    });
    return 1;
  }
  ConsolePrint(0, u"开始暴力求解...\r\n");

  // Search: the verdict and, where the mover wins, its first play.
  uint32_t t0 = 0, t1 = 0;
  const int64_t openingPlays = isOpening(request)
                                   ? openingPlayCount(root->u2Cards, request.engine.rules)
                                   : moverPlayCount(position, request.engine.rules);
  const bool searched = guarded([&] {
    engine = request.makeEngine ? request.makeEngine(settings) : makeEngine(settings);
    if (request.u1First) root->turn = '1';
    tickSeconds.exchange(0);  // the progress lines count from here
    t0 = tickCount();
    engine->solve(root);
    t1 = tickCount();
  });
  if (!searched) return 1;
  if (request.u1First) {
    listingMode(root);
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
    if (root->result == root->turn && root->child) {
      lastReport.firstPlay = root->child->lastPlay;
      lastReport.firstPlayType = root->child->playType;
    }
  }
  ConsolePrint(0, u"%s", engine->statisticsLine(root, openingPlays, elapsed));
  if (stopCheck()) return 1;
  if (!request.replay) return 1;

  // Replay, game after game.
  for (;;) {
    if (root->turn != request.mover || (root->result != '1' && root->result != '2')) {
      LogPrint(u"zelkmain:异常，没有算出最终胜利方\r\n");
      markFailed();
      setStop(1);
      LogPrint(u"ERRORBREAK!\r\n");
      return 1;
    }
    if (game(*engine, root, root->result) == Step::End) return 1;
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
