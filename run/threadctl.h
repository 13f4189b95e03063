// The solver thread: start, stop and completion.
//
// The front end (dialog or terminal) calls these on its user-interface
// thread. The thread posts ID_SOLVE_DONE to the command target when it ends;
// the front end then calls DestroyOk.
#pragma once

#include <cstdint>
#include <string>

#include "platform/namedmutex.h"
#include "run/solverun.h"

namespace zelk {

// Creates solveMutex (named from the local time); once, at start-up. The
// dialog shares it with every instance started in the same second; a
// process-local one (its name carries the process id) suits the command
// line, where several solves may well start in one second.
void createSolveMutex(bool sharedBetweenProcesses = true);
// Its name, empty before it exists: another NamedMutex of this name is the same mutex.
std::u16string solveMutexName();
// The busy test: false (after its box and log line) when a solve is running.
bool solverIdleTest();
// Starts p_thread on a 32 MiB stack for this solve; its console, if any,
// becomes the output hub's console first. Returns 0, or the error when the
// system refuses the thread (after logging it); then no ID_SOLVE_DONE follows.
int startSolverThread(SolveRequest request);
// How p_thread tries solveMutex: NamedMutex::tryLock. Tests put a failing
// attempt in its place to reach the start's failure path; it is changed
// only while no solve runs.
using SolveLockAttempt = WaitResult (*)(NamedMutex& m);
extern SolveLockAttempt solveLockAttempt;
int p_thread(const SolveRequest& request);
// The stop command (stop button, Ctrl-C).
void Destroy();
// Handler of ID_SOLVE_DONE.
void DestroyOk();
// Its log line: d milliseconds from the stop as seconds and the remainder,
// which keeps no leading zeros (1,005 ms shows as 1.5), and the number of
// trees still waiting for release.
std::u16string destroyOkText(uint32_t d, uint64_t waiting);

// What the thread control needs of the window: its inputs (the start button,
// both hands and the rule switches) and its stop button on or off, and the
// console window's "post a space and Enter" wake-up.
class ControlPanel {
 public:
  virtual ~ControlPanel() = default;
  virtual void enableInputs(bool enable) = 0;
  virtual void enableStop(bool enable) = 0;
  virtual bool hasConsoleWindow() = 0;    // CmdHwnd is set
  virtual void wakeConsoleWindow() = 0;   // post a space and Enter to it
  virtual void clearConsoleWindow() = 0;  // CmdHwnd = null
};
void setControlPanel(ControlPanel* panel);

}  // namespace zelk
