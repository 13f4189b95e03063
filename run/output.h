// The output hub: every text of the system passes through here.
//
//   LogPrint      log view (+ log file when F_LOG is on)
//   ConsolePrint  log view (+ file) and the replay console
//   BoxPrint      log view (+ file) and a message box the user must close
//
// Texts are queued on mStrSeq; only the user-interface thread moves them into
// the log view (DrainLogQueue). Worker threads never touch a window.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "run/format.h"

namespace zelk {

// The solving run's stop request (see the solver and the thread control).
extern std::atomic<int32_t> stopFlag;
inline bool stopRequested() { return stopFlag.load(std::memory_order_relaxed) != 0; }
inline void setStop(int32_t v) { stopFlag.store(v, std::memory_order_relaxed); }

// What the drain needs of the log view; the GUI implements it.
class LogView {
 public:
  virtual ~LogView() = default;
  virtual long textLength() = 0;
  virtual void setSelection(long start, long end) = 0;  // end -1: to the end
  virtual void replaceSelection(const std::u16string& text) = 0;
  virtual void scrollToBottom() = 0;
};

// Message boxes, shown by the front end on its user-interface thread; a
// caller on another thread waits for the answer.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void information(const std::u16string& text, const std::u16string& caption) = 0;
  // true for OK, false for Cancel.
  virtual bool okCancel(const std::u16string& text, const std::u16string& caption) = 0;
};

// Commands posted to the main window (ID_SOLVE_DONE, ID_UPDATE_INFO).
class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  virtual void postCommand(int id) = 0;
};

void setLogView(LogView* view);  // user-interface thread only
LogView* logView();
void setMessageBoxes(MessageBoxes* boxes);  // the owner of the boxes ("mainHwnd")
MessageBoxes* messageBoxes();
void setCommandTarget(CommandTarget* target);
CommandTarget* commandTarget();
void postCommand(int id);  // to the command target, if any

inline constexpr std::size_t PRINT_LIMIT = 10240;      // ConsolePrint, BoxPrint
inline constexpr std::size_t LOGPRINT_LIMIT = 64767;   // LogPrint's buffer less its terminator

void QueueLogText(const std::u16string& text);
void AppendLogFile(const std::u16string& text);
void DrainLogQueue();

// Writes text to the console character by character; the tail of ConsolePrint.
int consoleWrite(const std::u16string& text, unsigned delayMs);
void boxShow(const std::u16string& text);

template <class... A>
void LogPrint(std::u16string_view format, const A&... args) {
  QueueLogText(limitText(formatText(format, args...), LOGPRINT_LIMIT));
}

// Returns 0 when the whole text was written (or it was empty), 1 when a
// console write failed; then stopFlag is set.
template <class... A>
int ConsolePrint(unsigned delayMs, std::u16string_view format, const A&... args) {
  std::u16string text = limitText(formatText(format, args...), PRINT_LIMIT);
  QueueLogText(text);
  return consoleWrite(text, delayMs);
}

template <class... A>
int BoxPrint(std::u16string_view format, const A&... args) {
  std::u16string text = limitText(formatText(format, args...), PRINT_LIMIT);
  QueueLogText(text);
  boxShow(text);
  return 0;
}

// The log file, by default ZelkSolver.log in the per-user state folder.
std::string logFilePath();
void setLogFilePath(const std::string& path);  // tests

}  // namespace zelk
