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
#include "solver/fastengine.h"
#include "solver/fastreplay.h"
#include "solver/movegen.h"
#include "solver/nodepool.h"
#include "solver/solver.h"

namespace zelk {

std::u16string inputA;
std::u16string inputB;
std::atomic<bool> replayEnabled{true};
std::atomic<int> solveEngine{static_cast<int>(SolveEngine::Exhaustive)};
std::atomic<std::size_t> fastTableBytes{0};
std::atomic<int> fastThreads{1};
SearchFunction exhaustiveSearch = ZelkSolver;

namespace {

// The fast engine of the running solve; the replay grows its tree from it.
FastEngine* replayEngine = nullptr;

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

int64_t childCount(const GameNode* node) {
  int64_t n = 0;
  for (const GameNode* c = node ? node->child : nullptr; c; c = c->next) ++n;
  return n;
}

enum class Step { Go, End };

// With the fast engine, the position's children (as the exhaustive solver
// would have kept them) are made when the replay first reaches it.
bool growFromEngine(GameNode* p) {
  if (!replayEngine) return true;
  try {
    growLikeSolver(*replayEngine, p);
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
Step machineMove(GameNode* p, char machine, bool firstLead, GameNode** out) {
  *out = nullptr;
  if (!growFromEngine(p)) return Step::End;
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
Step userMove(GameNode* p, bool userIsU2, GameNode** out) {
  *out = nullptr;
  if (!growFromEngine(p)) return Step::End;
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
Step gameMachineU1(GameNode* root) {
  ConsolePrint(0, u"\r\n现在开始游戏...机器扮演player1...玩家扮演player2...\r\n");
  if (stopCheck()) return Step::End;
  GameNode* current = root;
  if (current->u1Cards[0] == '\0') return win(U1_WINS);
  for (;;) {
    if (current->u2Cards[0] == '\0') return win(U2_WINS);
    ConsolePrint(0, POSITION_U2, current->u1Cards, current->u2Cards);
    if (stopCheck()) return Step::End;
    GameNode* played;
    if (userMove(current, true, &played) == Step::End) return Step::End;
    GameNode* answer;
    if (machineMove(played, '1', false, &answer) == Step::End) return Step::End;
    if (!answer) return Step::Go;  // no winning answer: this game cannot go on
    current = answer;
    if (current->u1Cards[0] == '\0') return win(U1_WINS);
  }
}

// The machine leads as player2; the user plays player1.
Step gameMachineU2(GameNode* root) {
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
      if (machineMove(root, '2', true, &answer) == Step::End) return Step::End;
      if (!answer) return Step::Go;
      current = answer;
      if (current->u1Cards[0] == '\0') return win(U1_WINS);
      if (current->u2Cards[0] == '\0') return win(U2_WINS);
    }
    ConsolePrint(0, POSITION_U1, current->u1Cards, current->u2Cards);
    if (stopCheck()) return Step::End;
    GameNode* played;
    if (userMove(current, false, &played) == Step::End) return Step::End;
    if (played->u1Cards[0] == '\0') return win(U1_WINS);
    GameNode* answer;
    if (machineMove(played, '2', false, &answer) == Step::End) return Step::End;
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
    lastReport.failure = what ? what : "";
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

int zelkmain(GameNode* root) {
  {
    std::lock_guard<std::mutex> g(reportMutex);
    lastReport = RunReport{};
  }
  // Opening.
  setStop(0);
  LogPrint(u"zelkmain:\r\n");
  ConsolePrint(0, u"player1牌:%s\r\n", inputA);
  if (stopCheck()) return 1;
  ConsolePrint(0, u"player2牌:%s  ---先出牌者\r\n", inputB);
  if (stopCheck()) return 1;
  ConsolePrint(0, u"哪方赢?\r\n");
  if (stopCheck()) return 1;
  seedHand(root->u1Cards, inputA);
  seedHand(root->u2Cards, inputB);
  root->lastPlay[0] = '\0';
  root->playType = TYPE_PASS;
  root->turn = '2';
  root->result = RESULT_OPEN;
  ConsolePrint(0, u"开始暴力求解...\r\n");

  // Search.
  uint32_t t0 = 0, t1 = 0;
  const bool fast =
      solveEngine.load(std::memory_order_relaxed) == static_cast<int>(SolveEngine::Fast);
  std::unique_ptr<FastEngine> engine;
  struct EngineGuard {
    ~EngineGuard() { replayEngine = nullptr; }
  } engineGuard;
  try {
    tableRoot = newNode();
    copyPosition(tableRoot, root);
    ZelkCN(tableRoot, 0);
    topMoveCount = childCount(tableRoot);
    lastReportCount = 0;
    tickSeconds.exchange(0);
    lastReportSecond = 0;
    topNode = nullptr;  // never a node of an earlier, released tree
    if (on(F_U1F)) root->turn = '1';
    t0 = tickCount();
    if (fast) {
      std::size_t bytes = fastTableBytes.load(std::memory_order_relaxed);
      engine = std::make_unique<FastEngine>(bytes ? bytes : FastEngine::DEFAULT_TABLE_BYTES);
      engine->setThreads(fastThreads.load(std::memory_order_relaxed));
      root->result =
          engine->solve(root->u1Cards, root->u2Cards, root->lastPlay, root->playType, root->turn);
      engine->setProgress(false);  // the replay's questions print nothing of their own
      replayEngine = engine.get();
      // The root's kept children, as the exhaustive solver leaves them. The
      // winning first play is worked out here, often most of the work: the
      // time runs until it is known, as the exhaustive solver's does.
      growLikeSolver(*engine, root);
      t1 = tickCount();
    } else {
      root->result = exhaustiveSearch(root, 0);
      t1 = tickCount();
    }
    if (on(F_U1F)) {
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
  int64_t treeCount = fast ? 0 : countNodes(root);
  ConsolePrint(0, u"最终获胜方是 player%c \r\n", root->result);
  if (stopCheck()) return 1;
  int64_t tableCount = countNodes(tableRoot);
  nodeCount -= tableCount;
  if (nodeCount < 1) nodeCount = 1;
  int64_t total = fast ? std::max<int64_t>(engine->positionsSearched(), 1) : nodeCount;
  uint32_t elapsed = t1 - t0;
  if (elapsed == 0) elapsed = 1;
  float pct = static_cast<float>(treeCount) * 100.0f / static_cast<float>(total);
  float sec = static_cast<float>(elapsed) / 1000.0f;
  int64_t speed = total * 1000 / elapsed;
  {
    std::lock_guard<std::mutex> g(reportMutex);
    lastReport.completed = true;
    lastReport.winner = root->result;
    lastReport.positions = total;
    lastReport.treePositions = treeCount;
    lastReport.openingPlays = topMoveCount;
    lastReport.elapsedMs = elapsed;
    lastReport.fast = fast;
    if (fast) lastReport.tablePositions = engine->positionsStored();
    if (root->result == '2' && root->child) {
      lastReport.firstPlay = root->child->lastPlay;
      lastReport.firstPlayType = root->child->playType;
    }
  }
  if (fast)
    ConsolePrint(0, u"推演牌局总数 %I64d 置换表局面数 %I64d N1=%I64d speed %I64d/s sec %0.3fs \r\n",
                 total, engine->positionsStored(), topMoveCount, speed, sec);
  else
    ConsolePrint(0,
                 u"推演牌局总数 %I64d 牌局树牌局数 %I64d(%0.2f%%) N1=%I64d speed %I64d/s sec "
                 u"%0.3fs \r\n",
                 total, treeCount, pct, topMoveCount, speed, sec);
  if (stopCheck()) return 1;
  if (!replayEnabled.load(std::memory_order_relaxed)) return 1;

  // Replay, game after game.
  for (;;) {
    if (root->turn != '2' || (root->result != '1' && root->result != '2')) {
      LogPrint(u"zelkmain:异常，没有算出最终胜利方\r\n");
      markFailed();
      setStop(1);
      LogPrint(u"ERRORBREAK!\r\n");
      return 1;
    }
    Step game = root->result == '1' ? gameMachineU1(root) : gameMachineU2(root);
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
