#include "cli/session.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "platform/console.h"
#include "platform/terminalconsole.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "rules/playtypes.h"
#include "rules/types.h"
#include "run/output.h"
#include "run/solverun.h"
#include "run/threadctl.h"

namespace zelk::cli {

namespace {

constexpr int INTERRUPT = -1;

// The terminal's "main window": posted commands and Ctrl-C arrive here.
class EventQueue : public CommandTarget {
 public:
  void postCommand(int id) override {
    std::lock_guard<std::mutex> g(m_);
    events_.push_back(id);
    cv_.notify_all();
  }
  int wait() {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return !events_.empty(); });
    int id = events_.front();
    events_.pop_front();
    return id;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<int> events_;
};

// Boxes have no window here: their text goes to standard error.
class StderrBoxes : public MessageBoxes {
 public:
  void information(const std::u16string& text, const std::u16string&) override {
    std::string s = utf16ToUtf8(text);
    std::fwrite(s.data(), 1, s.size(), stderr);
  }
  bool okCancel(const std::u16string& text, const std::u16string& caption) override {
    information(text, caption);
    return false;
  }
};

// --json: the run's console text goes nowhere, and there is nothing to read.
class NullConsole : public Console {
 public:
  bool writeChar(char16_t) override { return true; }
  bool readChar(char16_t&) override { return false; }
  void setTitle(const std::u16string&) override {}
  bool detach() override { return true; }
  int error() const override { return NO_CONSOLE_ERROR; }
};

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

// The first Ctrl-C stops the solve; a second one ends the program at once.
void watchSignals(EventQueue* events) {
  sigset_t set = stopSignals();
  int seen = 0;
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (++seen > 1) _exit(130);
    events->postCommand(INTERRUPT);
  }
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void printJson(const RunReport& r) {
  std::string firstPlay = "null", firstType = "null";
  if (r.firstPlayType >= 0) {
    firstPlay = jsonString(r.firstPlay);
    firstType = jsonString(utf16ToUtf8(pt2Str(r.firstPlayType)));
  }
  std::printf(
      "{\"player1\":%s,\"player2\":%s,\"winner\":%c,\"first_play\":%s,\"first_play_type\":%s,"
      "\"positions\":%lld,\"tree_positions\":%lld,\"opening_plays\":%lld,\"elapsed_ms\":%u,"
      "\"engine\":\"%s\"}\n",
      jsonString(utf16ToUtf8(inputA)).c_str(), jsonString(utf16ToUtf8(inputB)).c_str(), r.winner,
      firstPlay.c_str(), firstType.c_str(), static_cast<long long>(r.positions),
      static_cast<long long>(r.fast ? r.tablePositions : r.treePositions),
      static_cast<long long>(r.openingPlays), r.elapsedMs, r.fast ? "fast" : "exhaustive");
  std::fflush(stdout);
}

}  // namespace

void blockStopSignals() {
  sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int runSession(const Options& options) {
  static EventQueue events;  // outlives the signal thread
  StderrBoxes boxes;
  setCommandTarget(&events);
  setMessageBoxes(&boxes);
  // No log view here: the queued texts are dropped as they come.
  LogQueueDiscarder discarder;

  std::shared_ptr<Console> console;
  if (options.json) {
    console = std::make_shared<NullConsole>();
  } else {
    console = std::make_shared<TerminalConsole>();
  }
  console->setTitle(u"ZelkSolver-机器与玩家对局互动窗口:");
  setConsole(console);
  replayEnabled.store(!options.noReplay && !options.json);
  solveEngine.store(static_cast<int>(options.fastEngine ? SolveEngine::Fast : SolveEngine::Exhaustive));
  startThread(64 * 1024, [] { watchSignals(&events); }).close();

  // Scripts start many solves at once: each zelk process keeps its own lock.
  createSolveMutex(false);
  if (!solverIdleTest()) {
    setConsole(nullptr);
    return 1;
  }
  startSolverThread();
  bool interrupted = false;
  for (;;) {
    int id = events.wait();
    if (id == INTERRUPT) {
      interrupted = true;
      Destroy();
    } else if (id == ID_SOLVE_DONE) {
      DestroyOk();
      break;
    }
  }
  setCommandTarget(nullptr);
  setMessageBoxes(nullptr);

  RunReport report = lastRunReport();
  if (interrupted) {
    std::fputs("zelk: stopped\n", stderr);
    return 130;
  }
  if (report.failed) {
    std::fputs("zelk: the solve failed (see the log with --log)\n", stderr);
    return 1;
  }
  if (options.json) {
    if (!report.completed) return 1;
    printJson(report);
  }
  return 0;
}

}  // namespace zelk::cli
