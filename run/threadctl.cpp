// The solver thread's life: busy test, start, stop, completion.
//
// The user-interface thread runs the busy test, the start, Destroy and
// DestroyOk; the solver thread runs p_thread. They meet through solveMutex
// (held by the solver thread for a whole solve), stopFlag, the console
// (detached by Destroy, which makes a waiting read fail) and the completion
// command posted when the thread ends.
#include "run/threadctl.h"

#include <unistd.h>

#include <atomic>
#include <mutex>

#include "base/output.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/cqueue.h"
#include "platform/namedmutex.h"
#include "platform/thread.h"
#include "run/solverun.h"
#include "solver/gamenode.h"
#include "solver/nodepool.h"
#include "solver/release.h"

namespace zelk {

namespace {

std::atomic<NamedMutex*> solveMutex{nullptr};
// Used by the user-interface thread only.
ThreadHandle solverThread;
uint32_t stopTick = 0;
uint32_t doneTick = 0;
std::atomic<ControlPanel*> panel{nullptr};

NamedMutex& theSolveMutex() {
  if (!solveMutex.load()) createSolveMutex();
  return *solveMutex.load();
}

// Makes every pending and later console read and write fail.
bool detachConsole(int* error) {
  std::shared_ptr<Console> console = currentConsole();
  if (!console) {
    *error = NO_CONSOLE_ERROR;
    return false;
  }
  bool ok = console->detach();
  *error = console->error();
  setConsole(nullptr);
  return ok;
}

}  // namespace

void setControlPanel(ControlPanel* p) { panel.store(p); }

void createSolveMutex(bool sharedBetweenProcesses) {
  static std::once_flag once;
  std::call_once(once, [sharedBetweenProcesses] {
    std::u16string name = formatLocalTime("%Y-%m-%d %H:%M:%S") + u"hMutexData-ReSet-GFund-only";
    if (!sharedBetweenProcesses) name += formatText(u"[%d]", static_cast<int>(getpid()));
    solveMutex.store(new NamedMutex(name));
  });
}

SolveLockAttempt solveLockAttempt = [](NamedMutex& m) { return m.tryLock(); };

std::u16string solveMutexName() {
  NamedMutex* m = solveMutex.load();
  return m ? m->name() : std::u16string();
}

bool solverIdleTest() {
  NamedMutex& m = theSolveMutex();
  WaitResult r = m.tryLock();
  if (r == WaitResult::Timeout) {
    BoxPrint(u"runingTest:[%s]:\r\n无法完成操作\r\n", u"OnBnClickedButtonDo");
    LogPrint(u"OnBnClickedButtonDo:启动求解线程失败\r\n");
    return false;
  }
  if (r == WaitResult::Acquired || r == WaitResult::Abandoned) m.unlock();
  return true;
}

int startSolverThread(SolveRequest request) {
  if (request.console) setConsole(request.console);
  solverThread.close();
  solverThread = startThread(SOLVER_STACK, [request = std::move(request)] { p_thread(request); });
  if (solverThread.valid()) return 0;
  // No thread, so no completion will come: the front end says so and stays idle.
  LogPrint(u"startSolverThread:eno %d\r\n", solverThread.error());
  return solverThread.error();
}

int p_thread(const SolveRequest& request) {
  LogPrint(u"p_thread:\r\n");
  NamedMutex& m = theSolveMutex();
  WaitResult r = solveLockAttempt(m);
  if (r == WaitResult::Acquired) {
    startReleaseThreads();
    nodeCount = 0;
    nodepool::recycleIfIdle();
    GameNode* root = nullptr;
    try {
      root = newNode();
    } catch (const CMemoryException& e) {
      // Not even the root fits: report it like a failed search.
      memoryFailure(e.what());
    }
    if (root) {
      zelkmain(root, request);
      handOverTree(root);
    }
    m.unlock();
  } else if (r == WaitResult::Timeout) {
    BoxPrint(u"p_thread:1\r\n");
  } else if (r == WaitResult::Abandoned) {
    BoxPrint(u"p_thread:2\r\n");
    // The wait made this thread the owner; leaving it owned would block every
    // later start.
    m.unlock();
  } else {
    BoxPrint(u"p_thread:3\r\n");
  }
  LogPrint(u"p_thread:over\r\n");
  postCommand(ID_SOLVE_DONE);
  return 1;
}

void Destroy() {
  ControlPanel* p = panel.load();
  if (p && p->hasConsoleWindow()) {
    LogPrint(u"Destroy:\r\n");
    p->wakeConsoleWindow();
    p->clearConsoleWindow();
  }
  stopTick = tickCount();
  int error = 0;
  if (!detachConsole(&error)) {
    LogPrint(u"Destroy::eno %d\r\n", error);
    return;
  }
  setStop(1);
  if (ControlPanel* p = panel.load()) p->enableStop(false);
}

std::u16string destroyOkText(uint32_t d, uint64_t waiting) {
  return formatText(u"DestroyOk:成功停止(%d.%d)(%I64u)\r\n", static_cast<int>(d / 1000),
                    static_cast<int>(d % 1000), waiting);
}

void DestroyOk() {
  int ignored;
  detachConsole(&ignored);
  doneTick = tickCount();
  uint64_t waiting = qZelk2Free.size();
  LogPrint(u"%s", destroyOkText(doneTick - stopTick, waiting));
  if (ControlPanel* p = panel.load()) {
    p->enableInputs(true);
    p->enableStop(false);
  }
  // The thread posted the command as its last act, so this wait is short.
  solverThread.join();
  setStop(0);
}

}  // namespace zelk
