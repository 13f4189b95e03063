#include "run/output.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/namedmutex.h"
#include "platform/paths.h"
#include "rules/switches.h"
#include "run/cqueue.h"

namespace zelk {

std::atomic<int32_t> stopFlag{0};

namespace {
std::atomic<LogView*> theLogView{nullptr};
std::atomic<MessageBoxes*> theBoxes{nullptr};
std::atomic<CommandTarget*> theTarget{nullptr};

std::mutex consoleMutex;
std::shared_ptr<Console>& consoleSlot() {
  static auto* slot = new std::shared_ptr<Console>;
  return *slot;
}

std::mutex logPathMutex;
std::string& logPathSlot() {
  static auto* p = new std::string;
  return *p;
}
}  // namespace

std::shared_ptr<Console> currentConsole() {
  std::lock_guard<std::mutex> g(consoleMutex);
  return consoleSlot();
}

void setConsole(std::shared_ptr<Console> console) {
  std::lock_guard<std::mutex> g(consoleMutex);
  consoleSlot() = std::move(console);
}

void setLogView(LogView* view) { theLogView.store(view); }
LogView* logView() { return theLogView.load(); }
void setMessageBoxes(MessageBoxes* boxes) { theBoxes.store(boxes); }
MessageBoxes* messageBoxes() { return theBoxes.load(); }
void setCommandTarget(CommandTarget* target) { theTarget.store(target); }
CommandTarget* commandTarget() { return theTarget.load(); }
void postCommand(int id) {
  if (CommandTarget* t = theTarget.load()) t->postCommand(id);
}

std::string logFilePath() {
  std::lock_guard<std::mutex> g(logPathMutex);
  if (logPathSlot().empty()) return stateDir() + "/ZelkSolver.log";
  return logPathSlot();
}

void setLogFilePath(const std::string& path) {
  std::lock_guard<std::mutex> g(logPathMutex);
  logPathSlot() = path;
}

void QueueLogText(const std::u16string& text) {
  if (on(F_LOG)) AppendLogFile(text);
  mStrSeq.push(text);
}

void AppendLogFile(const std::u16string& text) {
  // Created on the first append and kept until the process ends; named after
  // the local time of that first append.
  static NamedMutex* logFileMutex =
      new NamedMutex(formatLocalTime("logF--%Y-%m-%d %H:%M:%S") + u"ZelkSolver.log");
  logFileMutex->lock();
  std::string path = logFilePath();
  ensureParentDir(path);
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (f) {
    std::fseek(f, 0, SEEK_END);
  } else {
    f = std::fopen(path.c_str(), "wb");
    if (!f) {
      logFileMutex->unlock();
      return;  // the record is lost, silently
    }
    static const unsigned char bom[2] = {0xFF, 0xFE};
    std::fwrite(bom, 1, 2, f);
  }
  LocalTime t = localTimeNow();
  std::u16string record = formatText(u"[%04d.%02d.%02d-%02d:%02d:%02d]:", t.year, t.month, t.day,
                                     t.hour, t.minute, t.second);
  record += text;
  std::string bytes;
  bytes.reserve(record.size() * 2);
  for (char16_t c : record) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  std::fseek(f, 0, SEEK_END);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fflush(f);
  std::fclose(f);
  logFileMutex->unlock();
}

int consoleWrite(const std::u16string& text, unsigned delayMs) {
  if (text.empty()) return 0;
  std::shared_ptr<Console> console = currentConsole();
  for (char16_t c : text) {
    if (delayMs) sleepMs(delayMs);
    if (!console || !console->writeChar(c)) {
      setStop(1);
      LogPrint(u"WriteConsole:eno %d\r\n", console ? console->error() : NO_CONSOLE_ERROR);
      return 1;
    }
  }
  return 0;
}

void boxShow(const std::u16string& text) {
  if (MessageBoxes* boxes = theBoxes.load()) boxes->information(text, u"BOX_PRINT");
}

void DrainLogQueue() {
  for (int i = 0; i < 10; ++i) {
    LogView* view = theLogView.load();
    if (!view) return;
    std::optional<std::u16string> text = mStrSeq.take();
    if (!text) return;
    try {
      long n = view->textLength();
      if (n + 1000 > 32767) {
        view->setSelection(0, n / 32);
        view->replaceSelection(u"");
      }
      view->setSelection(-1, -1);
      view->replaceSelection(*text);
      view->setSelection(-1, -1);
      view->scrollToBottom();
    } catch (...) {
      // A failing view must not stop the drain; the next text goes on.
    }
  }
}

}  // namespace zelk
