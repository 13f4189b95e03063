#include "cli/session.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "base/output.h"
#include "cli/report.h"
#include "platform/console.h"
#include "platform/terminalconsole.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "rules/types.h"
#include "run/solverun.h"
#include "run/threadctl.h"
#include "solver/position.h"

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

// The terminal stands for the console window: there until the stop command
// lets go of it. Nothing needs posting to wake a waiting read, as detaching
// the console makes it return already.
class TerminalPanel : public ControlPanel {
 public:
  void enableInputs(bool) override {}
  void enableStop(bool) override {}
  bool hasConsoleWindow() override { return attached_; }
  void wakeConsoleWindow() override {}
  void clearConsoleWindow() override { attached_ = false; }

 private:
  bool attached_ = true;  // used by the event loop's thread only
};

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void watchStopSignals(std::function<void()> onFirst) {
  ThreadHandle watcher = startThread(64 * 1024, [onFirst = std::move(onFirst)] {
    sigset_t set = stopSignals();
    int seen = 0;
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0) continue;
      if (++seen > 1) _exit(130);
      // On a thread of its own: however long the first stop takes, this one
      // goes back to waiting for the second.
      ThreadHandle first = startThread(64 * 1024, onFirst);
      if (!first.valid()) onFirst();  // no thread to spare: stop all the same
      first.close();
    }
  });
  if (watcher.valid()) return;
  // Nobody would take the signals: let them end the program as they do elsewhere.
  sigset_t set = stopSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void reserveStandardDescriptors() {
  // A descriptor that is closed at the start would be the next one opened
  // (a pipe, say) and then read or written as if it were standard input or
  // output. Each gets /dev/null opened for reading: input then ends at once,
  // and a write fails as it would on the closed descriptor.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

int writeOut(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

int failWith(const std::string& what, int error) {
  std::fprintf(stderr, "zelk: %s: %s\n", what.c_str(), std::strerror(error));
  return 1;
}

void warnIfTheLogFails(const Options& options) {
  static bool warned = false;
  const int error = logFileError();
  if (!options.log || error == 0 || warned) return;
  warned = true;
  std::fprintf(stderr, "zelk: warning: cannot write the log file %s: %s\n", logFilePath().c_str(),
               std::strerror(error));
}

void blockStopSignals() {
  sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

SolveRequest requestOf(const Options& options) {
  SolveRequest request;
  request.engine.kind = options.fastEngine ? EngineKind::Fast : EngineKind::Exhaustive;
  request.engine.rules = fast::currentRules();
  request.engine.tableBytes = options.tableMib << 20;
  request.engine.threads = options.threads > 1 ? 2 : 1;
  request.replay = !options.noReplay && !options.json;
  request.u1First = options.u1f;
  request.mode = options.analyse    ? SolveMode::Analyse
                 : options.practice ? SolveMode::Practice
                                    : SolveMode::Solve;
  return request;
}

bool positionOf(const Options& options, SolveRequest& request, std::string& error) {
  Position p;
  if (!makePosition(narrow(request.player1), narrow(request.player2),
                    options.mover ? options.mover : RESULT_U2, options.toBeat, options.toBeatType,
                    request.engine.rules, p, error))
    return false;
  request.mover = p.turn;
  request.toBeat = p.lastPlay;
  request.toBeatType = p.playType;
  return true;
}

int runSession(const Options& options, SolveRequest request) {
  static EventQueue events;  // outlives the signal thread
  StderrBoxes boxes;
  setCommandTarget(&events);
  setMessageBoxes(&boxes);
  // No log view here: the queued texts are dropped as they come.
  LogQueueDiscarder discarder;

  std::shared_ptr<Console> console;
  std::shared_ptr<TerminalConsole> terminal;
  if (options.json) {
    console = std::make_shared<NullConsole>();
  } else {
    console = terminal = std::make_shared<TerminalConsole>();
  }
  console->setTitle(u"ZelkSolver-机器与玩家对局互动窗口:");
  const std::u16string player1 = request.player1, player2 = request.player2;
  const StartFields start = startOf(request);
  request.console = console;
  watchStopSignals([] { events.postCommand(INTERRUPT); });

  // Scripts start many solves at once: each zelk process keeps its own lock.
  createSolveMutex(false);
  if (!solverIdleTest()) return 1;
  TerminalPanel panel;
  setControlPanel(&panel);
  if (int error = startSolverThread(std::move(request))) {
    setControlPanel(nullptr);
    setConsole(nullptr);
    return failWith("cannot start the solver thread", error);
  }
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
  setControlPanel(nullptr);
  setCommandTarget(nullptr);
  setMessageBoxes(nullptr);

  RunReport report = lastRunReport();
  warnIfTheLogFails(options);
  if (interrupted) {
    std::fputs("zelk: stopped\n", stderr);
    return 130;
  }
  if (report.failed) {
    const std::string log = options.log ? "the log: " + logFilePath() : "--log keeps a log";
    std::fprintf(stderr, "zelk: %s (%s)\n",
                 report.failure.empty() ? "the solve failed" : report.failure.c_str(), log.c_str());
    return 1;
  }
  if (terminal && terminal->readError())
    return failWith("cannot read standard input", terminal->readError());
  if (terminal && terminal->writeError())
    return failWith("cannot write to standard output", terminal->writeError());
  if (options.json) {
    if (!report.completed) return 1;
    const std::string text = options.analyse ? analysisJson(report, player1, player2, start)
                                             : reportJson(report, player1, player2, 0, start);
    if (int error = writeOut(text)) return failWith("cannot write the answer", error);
  }
  return 0;
}

}  // namespace zelk::cli
