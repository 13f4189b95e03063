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
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/flags.h"
#include "base/format.h"
#include "platform/cqueue.h"

namespace zelk {

// What the drain needs of the log view; the GUI implements it, on its
// user-interface thread. Positions count UTF-16 units.
class LogView {
 public:
  virtual ~LogView() = default;
  virtual long textLength() = 0;
  // Selects [start, end); end -1 means to the end of the text, and (-1, -1)
  // puts an empty selection (the caret) at the end of the text.
  virtual void setSelection(long start, long end) = 0;
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

// Message texts on their way to the log view (sequence 25: the first queue made).
extern CQueue<std::u16string>& mStrSeq;
// The same queue, reachable from the static initialisers of other files (the
// reference above is bound only when this file's turn comes).
CQueue<std::u16string>& strSeqQueue();

// Commands posted to the main window.
inline constexpr int ID_SOLVE_DONE = 9527;    // the solver thread ended
inline constexpr int ID_UPDATE_INFO = 38523;  // the update check has news

// Where posted commands go: the main window, or the command line's event loop.
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

// ConsolePrint and BoxPrint keep at most 10,240 formatted characters; a
// longer text keeps those and gets "\r\n" behind them.
inline constexpr std::size_t PRINT_LIMIT = 10240;
// LogPrint formats into a buffer of 64,768 characters: at most 64,767 pass;
// a longer text keeps its first 64,765 and gets "\r\n", so it still fits.
inline constexpr std::size_t LOGPRINT_LIMIT = 64767;
std::u16string limitLogPrintText(std::u16string text);

// Appends the text to the log file when F_LOG is on, then queues a copy on mStrSeq.
void QueueLogText(const std::u16string& text);
// Appends one record: "[yyyy.mm.dd-hh:mm:ss]:" and the text, as UTF-16LE
// behind the FF FE mark. Each record opens, appends to and closes the file
// under the log-file mutex, so records of different threads never mix. A
// record that cannot be written is dropped without a word.
void AppendLogFile(const std::u16string& text);
// The error (an errno value) of the first record that could not be written,
// 0 while every one was.
int logFileError();
// Moves at most ten queued texts into the log view (user-interface thread,
// every 100 ms); trims the oldest thirty-second of the view's text when it
// comes within 1,000 characters of 32,767.
void DrainLogQueue();

// A front end without a log view (the command line, tests) must empty
// mStrSeq itself, or the queue grows for as long as the program prints.
// discardLogQueue drops every queued text and returns how many it dropped;
// a LogQueueDiscarder does that every 100 ms on a thread of its own for as
// long as it lives.
std::size_t discardLogQueue();
class LogQueueDiscarder {
 public:
  LogQueueDiscarder();
  ~LogQueueDiscarder();  // stops the thread; one last discard
  LogQueueDiscarder(const LogQueueDiscarder&) = delete;
  LogQueueDiscarder& operator=(const LogQueueDiscarder&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Writes text to the console character by character; the tail of ConsolePrint.
// 0 when all was written (or the text is empty); 1 after a failed write, which
// sets stopFlag and logs "WriteConsole:eno %d\r\n".
int consoleWrite(const std::u16string& text, unsigned delayMs);
// Shows an information box captioned "BOX_PRINT" when a front end provides boxes.
void boxShow(const std::u16string& text);

template <class... A>
void LogPrint(std::u16string_view format, const A&... args) {
  QueueLogText(limitLogPrintText(formatText(format, args...)));
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

// The log file: ZelkSolver.log in the per-user state folder
// ($XDG_STATE_HOME/ZelkSolver, else ~/.local/state/ZelkSolver), made when missing.
std::string logFilePath();
// Another log file (tests); the empty path restores the default.
void setLogFilePath(const std::string& path);

}  // namespace zelk
