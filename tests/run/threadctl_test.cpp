// The solver thread: busy test, stop during the search and during a read,
// completion and the controls it gives back.
#include "run/threadctl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/output.h"
#include "platform/namedmutex.h"
#include "platform/scriptconsole.h"
#include "platform/text.h"
#include "rules/types.h"
#include "run/solverun.h"

namespace zelk {
namespace {

SolveRequest requestFor(const char16_t* player1, const char16_t* player2) {
  SolveRequest request;
  request.player1 = player1;
  request.player2 = player2;
  return request;
}

using namespace std::chrono_literals;

// The front end as the thread control sees it: commands, boxes, controls.
class FakeFrontEnd : public CommandTarget, public MessageBoxes, public ControlPanel {
 public:
  void postCommand(int id) override {
    std::lock_guard<std::mutex> g(m_);
    commands_.push_back(id);
    cv_.notify_all();
  }
  void forgetCommands() {
    std::lock_guard<std::mutex> g(m_);
    commands_.clear();
  }
  bool waitForCommand(int id, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, timeout, [&] {
      for (int c : commands_)
        if (c == id) return true;
      return false;
    });
  }
  void information(const std::u16string& text, const std::u16string& caption) override {
    std::lock_guard<std::mutex> g(m_);
    boxes.push_back(utf16ToUtf8(caption) + "|" + utf16ToUtf8(text));
  }
  bool okCancel(const std::u16string&, const std::u16string&) override { return false; }
  void enableInputs(bool enable) override {
    std::lock_guard<std::mutex> g(m_);
    controls.push_back(enable ? "inputs on" : "inputs off");
  }
  void enableStop(bool enable) override {
    std::lock_guard<std::mutex> g(m_);
    controls.push_back(enable ? "stop on" : "stop off");
  }
  // Called on the user-interface thread only, like Destroy.
  bool hasConsoleWindow() override { return consoleWindow; }
  void wakeConsoleWindow() override { ++wakes; }
  void clearConsoleWindow() override { consoleWindow = false; }

  std::vector<std::string> boxes;
  std::vector<std::string> controls;
  bool consoleWindow = true;
  int wakes = 0;

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<int> commands_;
};

class ThreadControl : public ::testing::Test {
 protected:
  void SetUp() override {
    setCommandTarget(&front);
    setMessageBoxes(&front);
    setControlPanel(&front);
    // Test processes run side by side; a shared lock would make them busy.
    createSolveMutex(false);
    drain();
  }
  void TearDown() override {
    setCommandTarget(nullptr);
    setMessageBoxes(nullptr);
    setControlPanel(nullptr);
    setConsole(nullptr);
    setStop(0);
  }
  void drain() {
    while (auto t = mStrSeq.take()) log.push_back(utf16ToUtf8(*t));
  }
  // Position of the first log text equal to `text`, or -1.
  int at(const std::string& text) {
    drain();
    for (std::size_t i = 0; i < log.size(); ++i)
      if (log[i] == text) return static_cast<int>(i);
    return -1;
  }
  int startingWith(const std::string& prefix) {
    drain();
    for (std::size_t i = 0; i < log.size(); ++i)
      if (log[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    return -1;
  }

  // A start the lock refuses, which says so in `box` and runs no solve, and
  // after it (and `mend`) a start that runs.
  void refusedStartThenOneThatRuns(const std::string& box, const std::function<void()>& mend) {
    auto console = std::make_shared<ScriptConsole>(u"", ScriptConsole::AtEnd::Fail);
    setConsole(console);
    SolveRequest request = requestFor(u"2", u"43");
    startSolverThread(request);
    const bool done = front.waitForCommand(ID_SOLVE_DONE, 10s);
    mend();
    ASSERT_TRUE(done);
    DestroyOk();
    EXPECT_EQ(front.boxes, std::vector<std::string>{"BOX_PRINT|" + box});
    EXPECT_EQ(at("zelkmain:\r\n"), -1);
    ASSERT_GE(at("p_thread:\r\n"), 0);
    EXPECT_GT(at("p_thread:over\r\n"), at("p_thread:\r\n"));
    EXPECT_TRUE(console->output().empty());

    front.forgetCommands();
    log.clear();
    setConsole(console);
    startSolverThread(request);
    ASSERT_TRUE(front.waitForCommand(ID_SOLVE_DONE, 10s));
    DestroyOk();
    EXPECT_GE(at("zelkmain:\r\n"), 0);
    EXPECT_EQ(front.boxes.size(), 1u);
  }

  FakeFrontEnd front;
  std::vector<std::string> log;
};

TEST_F(ThreadControl, StopDuringTheSearch) {
  auto console = std::make_shared<ScriptConsole>(u"", ScriptConsole::AtEnd::Block);
  setConsole(console);
  // Thirteen against thirteen cards: a search of far more than a minute.
  SolveRequest request = requestFor(u"2AKQJ09876543", u"2AKQJ09876543");
  ASSERT_TRUE(solverIdleTest());
  startSolverThread(request);
  ASSERT_TRUE(console->waitForOutput(u"开始暴力求解...\r\n", 10s));
  std::this_thread::sleep_for(200ms);
  // A second start while the solve runs is refused.
  EXPECT_FALSE(solverIdleTest());
  ASSERT_EQ(front.boxes.size(), 1u);
  EXPECT_EQ(front.boxes[0], "BOX_PRINT|runingTest:[OnBnClickedButtonDo]:\r\n无法完成操作\r\n");
  EXPECT_GE(at("OnBnClickedButtonDo:启动求解线程失败\r\n"), 0);

  Destroy();
  EXPECT_TRUE(stopRequested());
  ASSERT_TRUE(front.waitForCommand(ID_SOLVE_DONE, 10s));
  DestroyOk();
  EXPECT_FALSE(stopRequested());
  int reted = at("zelkmain:ZelkSolver reted!\r\n");
  int breaks = at("ERRORBREAK!\r\n");
  int over = at("p_thread:over\r\n");
  ASSERT_GE(reted, 0);
  EXPECT_GT(breaks, reted);
  EXPECT_GT(over, breaks);
  EXPECT_GT(startingWith("DestroyOk:成功停止("), over);
  // No statistics line after a stop during the search.
  EXPECT_EQ(utf16ToUtf8(console->output()).find("推演牌局总数"), std::string::npos);
  // Stop button off at the stop; inputs on, then stop off, at completion.
  EXPECT_EQ(front.controls, (std::vector<std::string>{"stop off", "inputs on", "stop off"}));
  EXPECT_TRUE(solverIdleTest());
}

TEST_F(ThreadControl, StopWhileTheReplayWaitsForALine) {
  auto console = std::make_shared<ScriptConsole>(u"", ScriptConsole::AtEnd::Block);
  setConsole(console);
  SolveRequest request = requestFor(u"AA9", u"2QQJJ77553");
  startSolverThread(request);
  ASSERT_TRUE(console->waitForBlockedRead(10s));
  EXPECT_NE(utf16ToUtf8(console->output()).find("player2:"), std::string::npos);
  Destroy();
  // The console window is woken once and let go of.
  EXPECT_EQ(front.wakes, 1);
  EXPECT_FALSE(front.consoleWindow);
  ASSERT_TRUE(front.waitForCommand(ID_SOLVE_DONE, 10s));
  DestroyOk();
  int destroy = at("Destroy:\r\n");
  int failedRead = startingWith("ReadConsoleLine:eno ");
  ASSERT_GE(destroy, 0);
  EXPECT_GT(failedRead, destroy);
  ASSERT_GE(failedRead, 0);
  EXPECT_GT(at("ERRORBREAK!\r\n"), failedRead);
  EXPECT_GT(at("p_thread:over\r\n"), failedRead);
  int done = startingWith("DestroyOk:成功停止(");
  ASSERT_GE(done, 0);
  // How many trees still wait for release (one is freed per second).
  EXPECT_TRUE(std::regex_search(log[done], std::regex(R"(\(\d+\.\d+\)\(\d+\)\r\n$)"))) << log[done];
}

TEST_F(ThreadControl, RunEndingByItselfPostsTheCompletion) {
  // End of the typed input ends the run without a stop command.
  auto console = std::make_shared<ScriptConsole>(u"", ScriptConsole::AtEnd::Fail);
  setConsole(console);
  SolveRequest request = requestFor(u"2", u"43");
  startSolverThread(request);
  ASSERT_TRUE(front.waitForCommand(ID_SOLVE_DONE, 10s));
  DestroyOk();
  EXPECT_GE(at("p_thread:\r\n"), 0);
  EXPECT_GE(at("p_thread:over\r\n"), 0);
  EXPECT_EQ(front.boxes.size(), 0u);
}

TEST_F(ThreadControl, StopWithoutAConsoleReportsTheFailedDetach) {
  setConsole(nullptr);
  Destroy();
  EXPECT_GE(startingWith("Destroy::eno "), 0);
  EXPECT_FALSE(stopRequested());
  EXPECT_TRUE(front.controls.empty());
  // A second press finds the console window gone and only retries the detach.
  Destroy();
  EXPECT_EQ(front.wakes, 1);
  drain();
  int destroys = 0;
  for (const std::string& t : log) destroys += t == "Destroy:\r\n";
  EXPECT_EQ(destroys, 1);
}

// A thread that ended holding solveMutex left it abandoned: the next start
// takes it, says so, runs no solve, and lets go of it for the start after.
TEST_F(ThreadControl, AbandonedSolveMutexRefusesOneStart) {
  std::thread([] {
    NamedMutex m(solveMutexName());
    EXPECT_EQ(m.lock(), WaitResult::Acquired);
  }).join();
  refusedStartThenOneThatRuns("p_thread:2\r\n", [] {});
}

// The lock cannot be had at all (the system refuses it): the start says so,
// runs no solve, and the next start with a working lock runs.
TEST_F(ThreadControl, FailedSolveMutexRefusesOneStart) {
  solveLockAttempt = [](NamedMutex&) { return WaitResult::Failed; };
  refusedStartThenOneThatRuns("p_thread:3\r\n",
                              [] { solveLockAttempt = [](NamedMutex& m) { return m.tryLock(); }; });
}

// The stop time: whole seconds, then the remainder as a number of its own.
TEST(DestroyOkText, RemainderWithoutLeadingZeros) {
  const std::pair<uint32_t, const char*> rows[] = {
      {1005, "(1.5)(1)"}, {10, "(0.10)(1)"}, {999, "(0.999)(1)"}, {60000, "(60.0)(1)"}};
  for (const auto& [ms, shown] : rows)
    EXPECT_EQ(utf16ToUtf8(destroyOkText(ms, 1)),
              std::string("DestroyOk:成功停止") + shown + "\r\n");
}

}  // namespace
}  // namespace zelk
